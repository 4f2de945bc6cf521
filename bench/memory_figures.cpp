// Peak memory of the program's largest everyday case, through the real preview windows: two
// windows of 12000 x 8000 and a copy of one to the clipboard, against the memory budget.
//   memory_figures [budget in MiB]     (default: the budget the program sets for this machine)
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "memory_budget.h"
#include "picture_memory.h"

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

void Report(const char* step, const CFacettaView& a, const CFacettaView* b, int messages) {
    auto shows = [](const CFacettaView* v) {
        return !v ? "-" : v->m_pPicture && !v->m_pPicture->IsNull() ? "picture" : "no picture";
    };
    std::printf(
        "%-22s peak %7.1f MB  budget in use %7.1f of %7.1f MB  windows: %s, %s  messages: %d\n",
        step, PeakKiB() / 1024.0, MemoryBudget::InUse() / 1048576.0,
        MemoryBudget::Limit() / 1048576.0, shows(&a), shows(b), messages);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ConfigurePictureMemoryLimit();
    if (argc > 1) MemoryBudget::SetLimit(static_cast<size_t>(std::atoll(argv[1])) << 20);
    int messages = 0;
    CFacettaView::s_fnMessageBox = [&messages](QWidget*, QMessageBox::Icon, const QString&,
                                               const QString& text) {
        ++messages;
        std::printf("  message: %s\n", text.toUtf8().constData());
    };
    CFacettaDoc docA, docB;
    CFacettaView a(&docA), b(&docB);
    ImageSettings s = a.m_settings;
    s.nWidth = 12000;
    s.nHeight = 8000;
    Report("start", a, nullptr, messages);
    a.ApplySettings(&s);
    a.FinishRender();
    Report("first window", a, nullptr, messages);
    b.ApplySettings(&s);
    b.FinishRender();
    Report("second window", a, &b, messages);
    b.OnCopyPicture();
    Report("Ctrl+C in the second", a, &b, messages);
    return 0;
}
