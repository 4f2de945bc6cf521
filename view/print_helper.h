#pragma once
// Connects a preview view's page drawing to Qt's printer, print dialog and print preview.
class CFacettaView;

class CPrintHelper {
public:
    explicit CPrintHelper(CFacettaView& view) : m_view(view) {}

    // Prints one page, after the print dialog when asked. A cancelled dialog is not a failure;
    // a printer that cannot be printed on is, and is reported.
    void Print(bool bShowDialog);
    // The print preview window, modal.
    void Preview();

private:
    void ReportFailure();
    CFacettaView& m_view;
};
