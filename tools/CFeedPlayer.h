#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

class CFeedLine;
class CTtyrecRecord;

// Writes bytes at the rate of a serial line: at 8N1 a byte takes 10 bit times. Each byte has
// an absolute deadline on the steady clock, so sleeping late never adds up to drift; the
// schedule starts again from "now" only after the line made it wait (no reader, line full).
class CFeedPlayer {
public:
    CFeedPlayer(CFeedLine& line, unsigned baud, const volatile std::sig_atomic_t& stop);

    // Plays the blocks `next` gives until it gives an empty one, then lets the last byte's line
    // time pass. False when stopped by a signal or a device server's client left.
    bool Play(const std::function<std::string_view()>& next);
    // Plays journal records in the rhythm they were recorded in, `speed` times faster: each
    // record's bytes at once when its time has come. A pause of the reader moves the rest
    // later. False when stopped by a signal or the client left.
    bool PlayRecorded(const std::vector<CTtyrecRecord>& records, double speed, bool loop);

private:
    using Clock = std::chrono::steady_clock;

    bool PlayOnce(std::string_view data);
    bool PlayRecordsOnce(const std::vector<CTtyrecRecord>& records, double speed);
    bool SleepUntil(Clock::time_point when);
    bool WriteAll(std::string_view bytes, Clock::time_point& start);
    void Restart();
    Clock::time_point Deadline(std::uint64_t index) const;
    std::uint64_t DueCount(Clock::time_point now) const;

    CFeedLine& m_line;
    const volatile std::sig_atomic_t& m_stop;
    std::chrono::duration<double> m_byteTime;
    std::uint64_t m_batch; // bytes written per wake-up: about a millisecond of line time
    std::uint64_t m_sent = 0;
    std::uint64_t m_base = 0; // the byte whose deadline is m_start
    Clock::time_point m_start;
};
