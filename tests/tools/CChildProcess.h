#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// A tool under test run as a real process: standard input from a file, standard output and
// standard error collected through pipes.
class CChildProcess {
public:
    explicit CChildProcess(const std::vector<std::string>& argv,
                           const std::string& stdinPath = "/dev/null");
    ~CChildProcess(); // kills a process that is still running
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // The next line of standard output without its newline; empty on timeout.
    std::string ReadLine(std::chrono::milliseconds timeout);
    void Signal(int signal) const;
    // Waits for the end and returns the wait status; -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout);

    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }

    // Runs to the end (10 s at most) and returns the exit status, -1 when it did not exit.
    static int Run(const std::vector<std::string>& argv, std::string& out, std::string& err,
                   const std::string& stdinPath = "/dev/null");

private:
    // Collects what the pipes hold, waiting up to timeout for something to arrive.
    void Pump(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
    std::size_t m_lineStart = 0;
};
