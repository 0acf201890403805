#pragma once

#include <string>
#include <string_view>

// A pseudo-terminal pair in raw mode: the program under test opens SlavePath() like a serial
// device, the test plays the statistics computer on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }
    // Writes every byte (blocking until the kernel took them all).
    void Write(std::string_view bytes) const;
    // Bytes written here that no reader of the slave side has taken yet.
    std::size_t Unread() const;
    // Reads what the slave side wrote within timeoutMs.
    std::string Read(int timeoutMs) const;

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the pair survives while the program reopens the slave
    std::string m_slavePath;
};
