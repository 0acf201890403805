#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <string_view>

class CFeedOptions;

// Where tallyview-feed writes: a serial device set to raw 8N1 at the baud rate, a
// pseudo-terminal pair whose program side is reached through a symbolic link, or the TCP
// client of a device server (one at a time, raw bytes). The link is removed when the line is
// destroyed. Set-up failures are std::runtime_error.
class CFeedLine {
public:
    explicit CFeedLine(const CFeedOptions& options);
    ~CFeedLine();
    CFeedLine(const CFeedLine&) = delete;
    CFeedLine& operator=(const CFeedLine&) = delete;

    // The port a device server listens on (the one the system chose for port 0).
    std::uint16_t ListenPort() const { return m_listenPort; }
    // A device server: waits for the next client; false when stop was raised first.
    bool Accept(const volatile std::sig_atomic_t& stop);
    // Closes the client's connection at once.
    void Hangup();

    // False while a pseudo-terminal has no reader or the client has left: what is written then
    // would be thrown away.
    bool ReaderPresent();
    // Waits until ReaderPresent(); false when stop was raised first, or at once when the
    // client left (its play is over; the next client starts from the beginning).
    bool WaitForReader(const volatile std::sig_atomic_t& stop);
    // Writes what the line takes without blocking; returns the count (0 when it is full or the
    // reader just went away). Throws std::system_error on a write failure.
    std::size_t Write(std::string_view bytes);
    void WaitWritable(std::chrono::milliseconds timeout);
    // Waits until the bytes written have left: the device sent them, the reader of the
    // pseudo-terminal took them (closing the pair earlier would discard them), or the client
    // had them and closed (it gets two seconds).
    void Finish(const volatile std::sig_atomic_t& stop);

private:
    enum class Kind { Device, Pty, Listen };

    void OpenDevice(const std::string& path, unsigned baud);
    void CreatePty(unsigned baud);
    void Listen(std::uint16_t port);
    void WaitForClientToClose(const volatile std::sig_atomic_t& stop);
    void PlaceLink();
    void RemoveLink();
    void WaitForReaderToTakeAll(const volatile std::sig_atomic_t& stop);

    int m_fd = -1; // a device server's client while one is connected
    Kind m_kind = Kind::Device;
    int m_listenFd = -1;
    std::uint16_t m_listenPort = 0;
    std::string m_link;
    std::string m_slavePath;
    bool m_linkPlaced = false;
};
