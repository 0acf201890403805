#include "CDescriptorLimit.h"
#include "CInfoOptions.h"
#include "CTerminalApp.h"

#include <iostream>

int main(int argc, char** argv) {
    if (CInfoOptions::Answer(argc, argv, std::cout))
        return std::cout.flush() ? 0 : 1;
    CDescriptorLimit::Raise();
    CTerminalApp app(argc, argv);
    return app.Run();
}
