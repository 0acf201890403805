#include "CTerminalApp.h"

#include "CAppResources.h"
#include "CTerminalDlg.h"

CTerminalApp::CTerminalApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The caption of every message box.
    setApplicationName(QStringLiteral("Tallyview"));
    setApplicationVersion(CAppResources::Version());
    // Every window of the program, message boxes included, shows the application icon.
    setWindowIcon(CAppResources::Icon());
}

int CTerminalApp::Run() {
    CTerminalDlg dialog;
    dialog.exec();
    return 0;
}
