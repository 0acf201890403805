// The shipped sample game: reproducible, and it exercises what the demo is meant to show.
#include "CChildProcess.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

TEST(SampleCapture, GeneratorReproducesTheShippedFile) {
    CTempDir dir;
    const std::string generated = dir.Path("sample.cap");
    std::string out;
    std::string err;
    ASSERT_EQ(CChildProcess::Run({TALLYVIEW_GENSAMPLE, generated}, out, err), 0) << err;
    // A mismatch means the generator changed: regenerate tools/samples/sample-game.cap.
    EXPECT_TRUE(ReadFile(generated) == ReadFile(TALLYVIEW_SAMPLE));
}

TEST(SampleCapture, UsesTheWholeLanguage) {
    const std::string sample = ReadFile(TALLYVIEW_SAMPLE);
    EXPECT_GT(sample.size(), 100u * 1024);
    EXPECT_LT(sample.size(), 1024u * 1024);
    for (const std::string sequence : {"\x1b+", "\x1bT", "\x1b=",
                                       "\x1b"
                                       "a",
                                       "\x1b"
                                       "F",
                                       "\x1b"
                                       "f",
                                       "\x1b`;", "\x1b`:", "\x1bG"})
        EXPECT_NE(sample.find(sequence), std::string::npos) << sequence.substr(1);
}

} // namespace
