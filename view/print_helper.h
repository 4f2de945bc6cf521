#pragma once
// Connects a preview view's page drawing to Qt's printer, print dialog and print preview.
#include <functional>

class CFacettaView;
class QDialog;
class QPrinter;
class QWidget;

class CPrintHelper {
public:
    explicit CPrintHelper(CFacettaView& view) : m_view(view) {}

    // Prints one page, after the print dialog when asked. A cancelled dialog is not a failure;
    // a printer that cannot be printed on is, and is reported.
    void Print(bool bShowDialog);
    // The print preview window, modal.
    void Preview();

    // The printer every print and preview starts from, so that the printer set-up command
    // changes what the next print uses. Lives as long as the process.
    static QPrinter& SharedPrinter();
    // The printer set-up dialog on the shared printer; exec runs the modal dialog.
    static void PrintSetup(QWidget* pParent, const std::function<int(QDialog&)>& exec = {});

private:
    void ReportFailure();
    CFacettaView& m_view;
};
