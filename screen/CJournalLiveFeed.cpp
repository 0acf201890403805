#include "CJournalLiveFeed.h"

#include <iterator>
#include <map>

std::shared_ptr<CJournalLiveFeed> CJournalLiveFeed::Of(const std::filesystem::path& folder) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, std::weak_ptr<CJournalLiveFeed>> feeds;
    std::error_code error;
    std::filesystem::path key = std::filesystem::weakly_canonical(folder, error);
    if (error)
        key = std::filesystem::absolute(folder, error).lexically_normal();
    if (!key.has_filename())
        key = key.parent_path();
    const std::lock_guard lock(mutex);
    std::erase_if(feeds, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<CJournalLiveFeed>& known = feeds[key];
    std::shared_ptr<CJournalLiveFeed> feed = known.lock();
    if (!feed) {
        feed = std::make_shared<CJournalLiveFeed>();
        known = feed;
    }
    return feed;
}

void CJournalLiveFeed::Want(bool wanted) {
    const std::lock_guard lock(m_mutex);
    m_wanted = wanted;
    if (!wanted)
        Stop();
}

CJournalLiveFeed::Taken CJournalLiveFeed::Take() {
    const std::lock_guard lock(m_mutex);
    if (m_feeding == 0)
        return {};
    return {m_file, m_from, std::exchange(m_records, {}), std::move(m_screen)};
}

void CJournalLiveFeed::Restart() {
    const std::lock_guard lock(m_mutex);
    Stop();
}

std::uint64_t CJournalLiveFeed::Begin(const std::filesystem::path& file, std::uint64_t from) {
    const std::lock_guard lock(m_mutex);
    if (!m_wanted || m_feeding != 0)
        return 0;
    m_feeding = ++m_begun;
    m_file = file;
    m_from = from;
    return m_feeding;
}

bool CJournalLiveFeed::Feeding(std::uint64_t feeding) const {
    const std::lock_guard lock(m_mutex);
    return feeding != 0 && feeding == m_feeding;
}

void CJournalLiveFeed::Add(std::uint64_t feeding, std::vector<CIndexedRecord> records,
                           const CTerminalScreen& after) {
    auto screen = std::make_unique<CTerminalScreen>(after);
    const std::lock_guard lock(m_mutex);
    if (feeding == 0 || feeding != m_feeding)
        return;
    if (m_records.size() + records.size() > kMaxWaiting) {
        Stop();
        return;
    }
    m_records.insert(m_records.end(), std::make_move_iterator(records.begin()),
                     std::make_move_iterator(records.end()));
    m_screen = std::move(screen);
}

void CJournalLiveFeed::End(std::uint64_t feeding) {
    const std::lock_guard lock(m_mutex);
    if (feeding != 0 && feeding == m_feeding)
        Stop();
}

void CJournalLiveFeed::Stop() {
    m_feeding = 0;
    m_file.clear();
    m_records.clear();
    m_screen.reset();
}
