#include "CTempDir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

CTempDir::CTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tallyview-tools-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_dir = pattern;
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string CTempDir::Path(std::string_view name) const {
    return m_dir + "/" + std::string(name);
}

std::string CTempDir::Write(std::string_view name, std::string_view bytes) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}
