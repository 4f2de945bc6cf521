#include "windows_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "child_frame.h"

namespace {
QList<QMdiSubWindow*> OpenWindows(QMdiArea* pArea) {
    QList<QMdiSubWindow*> list;
    for (QMdiSubWindow* w : pArea->subWindowList()) {
        auto* f = qobject_cast<CChildFrame*>(w);
        if (!f || !f->IsClosing()) list.append(w);
    }
    return list;
}
}  // namespace

CWindowsDialog::CWindowsDialog(QMdiArea* pArea, QWidget* parent)
    : QDialog(parent), m_pArea(pArea), m_pList(new QListWidget(this)) {
    setWindowTitle(tr("窗口"));
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pActivate = new QPushButton(tr("激活(&A)"), this);
    m_pClose = new QPushButton(tr("关闭窗口(&C)"), this);
    auto* pOk = new QPushButton(tr("确定"), this);
    pOk->setDefault(true);

    auto* pButtons = new QVBoxLayout;
    pButtons->addWidget(m_pActivate);
    pButtons->addWidget(pOk);
    pButtons->addWidget(m_pClose);
    pButtons->addStretch();
    auto* pLayout = new QHBoxLayout(this);
    pLayout->addWidget(m_pList, 1);
    pLayout->addLayout(pButtons);
    resize(420, 260);

    connect(m_pActivate, &QPushButton::clicked, this, &CWindowsDialog::OnActivate);
    connect(m_pClose, &QPushButton::clicked, this, &CWindowsDialog::OnCloseWindows);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, &CWindowsDialog::OnActivate);
    connect(m_pList, &QListWidget::itemSelectionChanged, this, &CWindowsDialog::UpdateButtons);
    Refill();
}

void CWindowsDialog::Refill() {
    m_pList->clear();
    const QList<QMdiSubWindow*> windows = OpenWindows(m_pArea);
    for (QMdiSubWindow* w : windows) {
        auto* pItem = new QListWidgetItem(w->windowTitle(), m_pList);
        pItem->setData(Qt::UserRole, QVariant::fromValue(static_cast<QObject*>(w)));
        if (w == m_pArea->currentSubWindow()) m_pList->setCurrentItem(pItem);
    }
    UpdateButtons();
}

void CWindowsDialog::UpdateButtons() {
    const int nSelected = static_cast<int>(m_pList->selectedItems().size());
    m_pActivate->setEnabled(nSelected == 1);
    m_pClose->setEnabled(nSelected > 0);
}

void CWindowsDialog::OnActivate() {
    const QList<QListWidgetItem*> items = m_pList->selectedItems();
    if (items.size() != 1) return;
    if (auto* w = qobject_cast<QMdiSubWindow*>(items.front()->data(Qt::UserRole).value<QObject*>()))
        m_pArea->setActiveSubWindow(w);
    accept();
}

void CWindowsDialog::OnCloseWindows() {
    QList<QPointer<QMdiSubWindow>> targets;
    for (QListWidgetItem* pItem : m_pList->selectedItems())
        targets.append(qobject_cast<QMdiSubWindow*>(pItem->data(Qt::UserRole).value<QObject*>()));
    for (const QPointer<QMdiSubWindow>& w : targets)
        if (w) w->close();
    Refill();
}
