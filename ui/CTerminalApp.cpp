#include "CTerminalApp.h"

#include "CAppResources.h"
#include "CTerminalDlg.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Blocks at least this large come straight from the system and go back to it when freed.
constexpr int kMmapThreshold = 256 * 1024;

} // namespace

CTerminalApp::CTerminalApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The caption of every message box.
    setApplicationName(QStringLiteral("Tallyview"));
    setApplicationVersion(CAppResources::Version());
    // Every window of the program, message boxes included, shows the application icon.
    setWindowIcon(CAppResources::Icon());
#ifdef __GLIBC__
    // A fixed threshold: left to itself, glibc raises it after the first burst on the line
    // frees its buffers, and each thread's heap then keeps up to 64 MiB for the rest of the run.
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
#endif
}

int CTerminalApp::Run() {
    CTerminalDlg dialog;
    dialog.exec();
    return 0;
}
