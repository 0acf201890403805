#pragma once

#include <QApplication>

// The application: runs the main window modally and ends when it ends.
class CTerminalApp : public QApplication {
    Q_OBJECT

public:
    CTerminalApp(int& argc, char** argv);

    // Shows the main window until the operator closes it; returns the process exit code.
    int Run();
};
