#pragma once

#include <functional>
#include <string>
#include <string_view>

// A recorded feed on disk (or "-": standard input), read in large blocks so that captures of
// hundreds of megabytes take seconds. Errors are std::runtime_error naming the file.
class CCaptureFile {
public:
    static void ReadBlocks(const std::string& path,
                           const std::function<void(std::string_view)>& block);
    static std::string ReadAll(const std::string& path);
    // How the file is named in messages.
    static std::string DisplayName(const std::string& path);
};
