#pragma once
// One preview window: a tab of the main window holding one document and its view.
#include <QMdiSubWindow>

class CFacettaDoc;
class CFacettaView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    // Takes ownership of the document.
    explicit CChildFrame(CFacettaDoc* pDoc, QWidget* parent = nullptr);

    CFacettaDoc* GetDocument() const { return m_pDoc; }
    CFacettaView* GetView() const { return m_pView; }
    // True from the moment the window starts closing until it is gone.
    bool IsClosing() const { return m_bClosing; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CFacettaDoc* m_pDoc;
    CFacettaView* m_pView;
    bool m_bInitialUpdateDone = false;
    bool m_bClosing = false;
};
