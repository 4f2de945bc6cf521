#pragma once
// Lists the preview windows; activates one or closes the selected ones.
#include <QDialog>

class QListWidget;
class QMdiArea;
class QPushButton;

class CWindowsDialog : public QDialog {
    Q_OBJECT
public:
    explicit CWindowsDialog(QMdiArea* pArea, QWidget* parent = nullptr);

    QListWidget* GetList() const { return m_pList; }

private:
    void Refill();
    void OnActivate();
    void OnCloseWindows();
    void UpdateButtons();

    QMdiArea* m_pArea;
    QListWidget* m_pList;
    QPushButton* m_pActivate;
    QPushButton* m_pClose;
};
