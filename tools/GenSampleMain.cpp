// tallyview-gensample: writes the sample game capture shipped in tools/samples.
#include "CSampleGame.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

// Changing the seed changes the shipped capture; regenerate and commit both together.
constexpr unsigned kSeed = 2025;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tallyview-gensample OUTPUT\n";
        return 2;
    }
    const std::string capture = CSampleGame(kSeed).Generate();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(capture.data(), static_cast<std::streamsize>(capture.size()));
    out.close();
    if (!out) {
        std::cerr << "tallyview-gensample: " << argv[1] << ": cannot write\n";
        return 1;
    }
    return 0;
}
