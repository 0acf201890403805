#include "CCaptureFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string CCaptureFile::DisplayName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

void CCaptureFile::ReadBlocks(const std::string& path,
                              const std::function<void(std::string_view)>& block) {
    std::unique_ptr<std::FILE, FileCloser> opened;
    if (path != "-") {
        opened.reset(std::fopen(path.c_str(), "rb"));
        if (!opened)
            throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    }
#ifdef _WIN32
    // A capture is raw bytes: text mode would drop CRs before LFs and stop at the first 0x1A.
    if (!opened)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::FILE* file = opened ? opened.get() : stdin;
    std::vector<char> buffer(kBlockSize);
    while (const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file))
        block({buffer.data(), count});
    if (std::ferror(file))
        throw std::runtime_error(DisplayName(path) + ": cannot read: " + std::strerror(errno));
}

std::string CCaptureFile::ReadAll(const std::string& path) {
    std::string data;
    ReadBlocks(path, [&data](std::string_view bytes) { data += bytes; });
    return data;
}
