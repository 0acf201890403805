#include "CCaptureStream.h"

#include "CCaptureFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

} // namespace

CCaptureStream::CCaptureStream(std::string path, bool loop)
    : m_path(std::move(path)), m_loop(loop), m_block(kBlockSize) {
    if (m_path == "-") {
        m_kept = CCaptureFile::ReadAll(m_path);
        return;
    }
    m_file.reset(std::fopen(m_path.c_str(), "rb"));
    if (!m_file)
        throw std::runtime_error(m_path + ": cannot open: " + std::strerror(errno));
}

std::string_view CCaptureStream::Next() {
    std::string_view bytes = Read();
    if (bytes.empty() && m_loop && m_read) {
        Rewind();
        bytes = Read();
    }
    m_read = m_read || !bytes.empty();
    return bytes;
}

std::string_view CCaptureStream::Read() {
    if (!m_file)
        return std::exchange(m_keptGiven, true) ? std::string_view() : m_kept;
    const std::size_t count = std::fread(m_block.data(), 1, m_block.size(), m_file.get());
    if (count == 0 && std::ferror(m_file.get()))
        throw std::runtime_error(m_path + ": cannot read: " + std::strerror(errno));
    return {m_block.data(), count};
}

void CCaptureStream::Rewind() {
    m_read = false;
    m_keptGiven = false;
    if (m_file)
        std::rewind(m_file.get());
}
