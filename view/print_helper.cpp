#include "print_helper.h"

#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "facetta_view.h"

void CPrintHelper::ReportFailure() {
    m_view.ShowMessage(QMessageBox::Warning, QStringLiteral("命令失败。"));
}

void CPrintHelper::Print(bool bShowDialog) {
    // One printer dot per screen pixel: the device's own resolution, not the screen's.
    QPrinter printer(QPrinter::HighResolution);
    if (bShowDialog) {
        QPrintDialog dialog(&printer, &m_view);
        if (m_view.ExecDialog(dialog) != QDialog::Accepted) return;
    }
    if (!m_view.PrintTo(printer)) ReportFailure();
}

void CPrintHelper::Preview() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, &m_view);
    bool bFailed = false;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [this, &bFailed](QPrinter* pPrinter) {
                         if (!m_view.PrintTo(*pPrinter)) bFailed = true;
                     });
    m_view.ExecDialog(dialog);
    if (bFailed) ReportFailure();
}
