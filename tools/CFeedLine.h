#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <string_view>

class CFeedOptions;

// Where tallyview-feed writes: a serial device set to raw 8N1 at the baud rate, or a
// pseudo-terminal pair whose program side is reached through a symbolic link. The link is
// removed when the line is destroyed. Set-up failures are std::runtime_error.
class CFeedLine {
public:
    explicit CFeedLine(const CFeedOptions& options);
    ~CFeedLine();
    CFeedLine(const CFeedLine&) = delete;
    CFeedLine& operator=(const CFeedLine&) = delete;

    // False while a pseudo-terminal has no reader: what is written then would be thrown away.
    bool ReaderPresent();
    // Waits until ReaderPresent(); false when stop was raised first.
    bool WaitForReader(const volatile std::sig_atomic_t& stop);
    // Writes what the line takes without blocking; returns the count (0 when it is full or the
    // reader just went away). Throws std::system_error on a write failure.
    std::size_t Write(std::string_view bytes);
    void WaitWritable(std::chrono::milliseconds timeout);
    // Waits until the bytes written have left: the device sent them, or the reader of the
    // pseudo-terminal took them (closing the pair earlier would discard them).
    void Finish(const volatile std::sig_atomic_t& stop);

private:
    void OpenDevice(const std::string& path, unsigned baud);
    void CreatePty(unsigned baud);
    void PlaceLink();
    void RemoveLink();
    void WaitForReaderToTakeAll(const volatile std::sig_atomic_t& stop);

    int m_fd = -1;
    bool m_pty = false;
    std::string m_link;
    std::string m_slavePath;
    bool m_linkPlaced = false;
};
