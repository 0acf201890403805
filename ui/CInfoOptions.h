#pragma once

#include <ostream>

// The two questions the program answers on its command line, before any window exists (so
// they work without a display): --help and --version. Every other argument is left to Qt.
class CInfoOptions {
public:
    // Writes the answer when the arguments ask one of the two; returns whether they did.
    static bool Answer(int argc, char** argv, std::ostream& out);
};
