#include "CTerminalApp.h"

#include "CTerminalDlg.h"

CTerminalApp::CTerminalApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The caption of every message box.
    setApplicationName(QStringLiteral("Tallyview"));
}

int CTerminalApp::Run() {
    CTerminalDlg dialog;
    dialog.exec();
    return 0;
}
