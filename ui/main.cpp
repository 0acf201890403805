#include "CTerminalApp.h"

int main(int argc, char** argv) {
    CTerminalApp app(argc, argv);
    return app.Run();
}
