#include "print_helper.h"

#include <QCoreApplication>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "facetta_view.h"

void CPrintHelper::ReportFailure() {
    m_view.ShowMessage(QMessageBox::Warning,
                       QCoreApplication::translate("CPrintHelper", "命令失败。"));
}

QPrinter& CPrintHelper::SharedPrinter() {
    // One printer dot per screen pixel: the device's own resolution, not the screen's.
    static QPrinter* s_pPrinter = new QPrinter(QPrinter::HighResolution);
    return *s_pPrinter;
}

void CPrintHelper::PrintSetup(QWidget* pParent, const std::function<int(QDialog&)>& exec) {
    QPageSetupDialog dialog(&SharedPrinter(), pParent);
    if (exec)
        exec(dialog);
    else
        dialog.exec();
}

void CPrintHelper::Print(bool bShowDialog) {
    QPrinter& printer = SharedPrinter();
    if (bShowDialog) {
        QPrintDialog dialog(&printer, &m_view);
        if (m_view.ExecDialog(dialog) != QDialog::Accepted) return;
    }
    if (!m_view.PrintTo(printer)) ReportFailure();
}

void CPrintHelper::Preview() {
    QPrintPreviewDialog dialog(&SharedPrinter(), &m_view);
    bool bFailed = false;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [this, &bFailed](QPrinter* pPrinter) {
                         if (!m_view.PrintTo(*pPrinter)) bFailed = true;
                     });
    m_view.ExecDialog(dialog);
    if (bFailed) ReportFailure();
}
