#include "CFeedPlayer.h"

#include "CFeedLine.h"
#include "CTtyrecRecord.h"

#include <algorithm>
#include <thread>

namespace {

constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit

} // namespace

CFeedPlayer::CFeedPlayer(CFeedLine& line, unsigned baud, const volatile std::sig_atomic_t& stop)
    : m_line(line), m_stop(stop), m_byteTime(static_cast<double>(kBitsPerByte) / baud),
      m_batch(std::max<std::uint64_t>(1, baud / kBitsPerByte / 1000)) {}

bool CFeedPlayer::Play(const std::function<std::string_view()>& next) {
    if (!m_line.WaitForReader(m_stop))
        return false;
    Restart();
    for (std::string_view block = next(); !block.empty(); block = next())
        if (!PlayOnce(block))
            return false;
    std::this_thread::sleep_until(Deadline(m_sent));
    return !m_stop;
}

bool CFeedPlayer::PlayOnce(std::string_view data) {
    const std::uint64_t first = m_sent;
    const std::uint64_t end = first + data.size();
    while (m_sent < end) {
        if (m_stop)
            return false;
        if (!m_line.ReaderPresent()) {
            if (!m_line.WaitForReader(m_stop))
                return false;
            Restart();
        }
        const std::uint64_t due = std::min(DueCount(Clock::now()), end);
        if (due > m_sent) {
            const std::size_t written = m_line.Write(data.substr(m_sent - first, due - m_sent));
            m_sent += written;
            if (written == 0) {
                m_line.WaitWritable(std::chrono::milliseconds(100));
                Restart();
                continue;
            }
        }
        std::this_thread::sleep_until(Deadline(std::min(m_sent + m_batch - 1, end)));
    }
    return true;
}

void CFeedPlayer::Restart() {
    m_start = Clock::now();
    m_base = m_sent;
}

CFeedPlayer::Clock::time_point CFeedPlayer::Deadline(std::uint64_t index) const {
    return m_start + std::chrono::duration_cast<Clock::duration>(
                         m_byteTime * static_cast<double>(index - m_base));
}

std::uint64_t CFeedPlayer::DueCount(Clock::time_point now) const {
    const std::chrono::duration<double> elapsed = now - m_start;
    return m_base + static_cast<std::uint64_t>(elapsed / m_byteTime) + 1;
}

bool CFeedPlayer::PlayRecorded(const std::vector<CTtyrecRecord>& records, double speed, bool loop) {
    if (!m_line.WaitForReader(m_stop))
        return false;
    do {
        if (!PlayRecordsOnce(records, speed))
            return false;
    } while (loop);
    return !m_stop;
}

bool CFeedPlayer::PlayRecordsOnce(const std::vector<CTtyrecRecord>& records, double speed) {
    Clock::time_point start = Clock::now();
    for (const CTtyrecRecord& record : records) {
        const std::chrono::duration<double> after = record.m_time - records.front().m_time;
        if (!SleepUntil(start + std::chrono::duration_cast<Clock::duration>(after / speed)) ||
            !WriteAll(record.m_data, start))
            return false;
    }
    return true;
}

// In short steps, so a stop signal is noticed within a tenth of a second.
bool CFeedPlayer::SleepUntil(Clock::time_point when) {
    while (!m_stop && Clock::now() < when)
        std::this_thread::sleep_until(
            std::min(when, Clock::now() + std::chrono::milliseconds(100)));
    return !m_stop;
}

bool CFeedPlayer::WriteAll(std::string_view bytes, Clock::time_point& start) {
    while (!bytes.empty()) {
        if (m_stop)
            return false;
        if (!m_line.ReaderPresent()) {
            const Clock::time_point paused = Clock::now();
            if (!m_line.WaitForReader(m_stop))
                return false;
            start += Clock::now() - paused;
        }
        const std::size_t written = m_line.Write(bytes);
        if (written == 0)
            m_line.WaitWritable(std::chrono::milliseconds(100));
        bytes.remove_prefix(written);
    }
    return true;
}
