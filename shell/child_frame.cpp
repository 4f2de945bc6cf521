#include "child_frame.h"

#include <QCloseEvent>

#include "facetta_doc.h"
#include "facetta_view.h"

CChildFrame::CChildFrame(CFacettaDoc* pDoc, QWidget* parent)
    : QMdiSubWindow(parent), m_pDoc(pDoc), m_pView(new CFacettaView(pDoc)) {
    m_pDoc->setParent(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(m_pView);
    setWindowTitle(m_pDoc->GetTitle());
    connect(m_pDoc, &CFacettaDoc::TitleChanged, this, &QWidget::setWindowTitle);
}

void CChildFrame::showEvent(QShowEvent* event) {
    QMdiSubWindow::showEvent(event);
    if (!m_bInitialUpdateDone) {
        m_bInitialUpdateDone = true;
        m_pView->OnInitialUpdate();
    }
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    // Documents hold no data: closing never asks.
    m_bClosing = true;
    QMdiSubWindow::closeEvent(event);
    if (!event->isAccepted()) m_bClosing = false;
}
