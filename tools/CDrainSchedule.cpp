#include "CDrainSchedule.h"

#include "CCommandLine.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

std::string_view Trimmed(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

CDrainSchedule CDrainSchedule::EveryChunk(std::size_t chunk) {
    CDrainSchedule schedule;
    schedule.m_chunk = chunk;
    schedule.m_next = chunk;
    return schedule;
}

CDrainSchedule CDrainSchedule::FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    CDrainSchedule schedule;
    schedule.m_file = path;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ": line " + std::to_string(number);
        std::size_t offset = 0;
        try {
            offset = CCommandLine::ParseCount(Trimmed(line), "offset");
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(where + ": " + e.what());
        }
        if (!schedule.m_offsets.empty() && offset < schedule.m_offsets.back())
            throw std::runtime_error(where + ": offset " + std::to_string(offset) +
                                     " is smaller than the one before it");
        schedule.m_offsets.push_back(offset);
    }
    if (in.bad())
        throw std::runtime_error(path + ": cannot read: " + std::strerror(errno));
    if (!schedule.m_offsets.empty())
        schedule.m_next = schedule.m_offsets.front();
    return schedule;
}

void CDrainSchedule::Advance() {
    if (m_chunk != 0) {
        m_next = m_next > kNever - m_chunk ? kNever : m_next + m_chunk;
        return;
    }
    ++m_index;
    m_next = m_index < m_offsets.size() ? m_offsets[m_index] : kNever;
}

void CDrainSchedule::CheckEnd(std::size_t total) const {
    if (m_chunk == 0 && m_index < m_offsets.size())
        throw std::runtime_error(m_file + ": offset " + std::to_string(m_offsets[m_index]) +
                                 " lies beyond the end of the capture (" + std::to_string(total) +
                                 " bytes)");
}
