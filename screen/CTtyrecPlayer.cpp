#include "CTtyrecPlayer.h"

namespace {

// Drained now and then, so a long file never sits whole in the receive buffer.
constexpr std::size_t kDrainEvery = 1 << 20;

} // namespace

CTtyrecPlayer::Result CTtyrecPlayer::Play(std::istream& in, CTerminalScreen& screen,
                                          std::optional<CTtyrecRecord::Time> until) {
    Result result;
    CTtyrecReader reader(in);
    CTtyrecRecord record;
    std::size_t undrained = 0;
    while (reader.Next(record)) {
        if (result.m_records == 0)
            result.m_first = record.m_time;
        if (until && record.m_time > *until && result.m_records > 0)
            break;
        screen.ReceiveBytes(record.m_data);
        result.m_last = record.m_time;
        ++result.m_records;
        if ((undrained += record.m_data.size()) >= kDrainEvery) {
            screen.ProcessReceived();
            undrained = 0;
        }
    }
    screen.ProcessReceived();
    result.m_note = reader.Note();
    return result;
}
