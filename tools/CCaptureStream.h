#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A capture played as it is read, a block at a time, so that a capture of any length, played
// any number of times, takes the memory of one block. Standard input, which cannot be read
// again, is kept whole. Errors are std::runtime_error naming the file.
class CCaptureStream {
public:
    CCaptureStream(std::string path, bool loop);

    // The next bytes; empty at the end, which with loop only an empty capture has.
    std::string_view Next();
    // From the beginning again.
    void Rewind();

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::string_view Read();

    const std::string m_path;
    const bool m_loop;
    std::unique_ptr<std::FILE, Closer> m_file; // none: standard input
    std::vector<char> m_block;
    std::string m_kept; // standard input
    bool m_keptGiven = false;
    bool m_read = false; // bytes came since the last beginning
};
