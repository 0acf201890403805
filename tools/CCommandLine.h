#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Small pieces the tools share to read their command lines. Errors are std::runtime_error
// with a one-line reason.
class CCommandLine {
public:
    // What --version prints: "PROGRAM VERSION" and a newline.
    static std::string VersionLine(std::string_view program);
    static std::string Quoted(std::string_view text);
    // A decimal count (digits only, no sign or spaces); what names the value in the error.
    static std::size_t ParseCount(std::string_view text, std::string_view what);
    // The value after the option at args[i]; moves i onto it.
    static std::string_view ValueOf(const std::vector<std::string_view>& args, std::size_t& i);
    // An argument that is not an option's value: the capture, given once; anything else
    // starting with '-' is an unknown option.
    static void TakeCapture(std::string_view arg, std::string& capture);
};
