#pragma once

#include <string>
#include <string_view>

// A fresh directory for one test's files, removed with everything in it afterwards.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    std::string Path(std::string_view name) const;
    // Writes bytes to the named file and returns its path.
    std::string Write(std::string_view name, std::string_view bytes) const;

private:
    std::string m_dir;
};
