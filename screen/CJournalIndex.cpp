#include "CJournalIndex.h"

#include "CScreenCommands.h"
#include "CScreenText.h"
#include "CTtyrecReader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <fstream>
#include <limits>
#include <regex>
#include <thread>

namespace {

// Which rows of a screen hold the text, kept up to date from the rows that changed.
template <class Search> class CRowsHolding {
public:
    CRowsHolding(const CTerminalScreen& screen, const Search& search)
        : m_screen(screen), m_search(search) {
        Update(~std::uint64_t{0});
    }

    void Update(std::uint64_t changedRows) {
        for (; changedRows != 0; changedRows &= changedRows - 1) {
            const int row = std::countr_zero(changedRows);
            if (row >= CTerminalScreen::kRows)
                break;
            const bool holds = m_search.In(m_screen.Rows()[static_cast<std::size_t>(row)]);
            m_count += static_cast<int>(holds) - static_cast<int>(m_holds[row]);
            m_holds[row] = holds;
        }
    }
    bool Any() const { return m_count > 0; }

private:
    const CTerminalScreen& m_screen;
    const Search& m_search;
    std::array<bool, CTerminalScreen::kRows> m_holds{};
    int m_count = 0;
};

// A journal file read in large pieces: its records are small.
class CJournalStream {
public:
    explicit CJournalStream(const std::filesystem::path& path) : m_buffer(256 * 1024) {
        m_in.rdbuf()->pubsetbuf(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_in.open(path, std::ios::binary);
    }
    std::istream& In() { return m_in; }

private:
    std::vector<char> m_buffer;
    std::ifstream m_in;
};

// The bits (CJournalIndexFile::kColumnsPerBit columns each) of the cells that differ; eight
// cells are compared at once, as most of a changed row is as it was.
std::uint64_t ChangedCells(std::string_view was, std::string_view now) {
    constexpr std::size_t kPerBit = CJournalIndexFile::kColumnsPerBit;
    const std::size_t n = std::min(was.size(), now.size());
    std::uint64_t bits = 0;
    const auto mark = [&](std::size_t cell) { bits |= std::uint64_t{1} << (cell / kPerBit % 64); };
    for (std::size_t at = 0; at < n; at += 8) {
        const std::size_t end = std::min(at + 8, n);
        if (end - at == 8 && std::memcmp(was.data() + at, now.data() + at, 8) == 0)
            continue;
        for (std::size_t cell = at; cell < end; ++cell)
            if (was[cell] != now[cell])
                mark(cell);
    }
    for (std::size_t cell = n; cell < std::max(was.size(), now.size()); ++cell)
        mark(cell);
    return bits;
}

} // namespace

// Whether a shown row holds a text, ignoring case. Eight positions are tried at once: a byte
// matches a folded letter only if the two agree but for the case bit (0x20), so one word
// compare of the row's bytes under the text's first and under its last letter, with that bit
// set, leaves only the positions worth comparing in full.
class CJournalIndex::FoldedSearch {
public:
    explicit FoldedSearch(std::string folded) : m_text(std::move(folded)) {
        const auto first = static_cast<unsigned char>(m_text.front());
        const auto last = static_cast<unsigned char>(m_text.back());
        m_wordWise =
            std::endian::native == std::endian::little && ByCaseBit(first) && ByCaseBit(last);
        m_first = kOnes * (first | kCaseBit);
        m_last = kOnes * (last | kCaseBit);
    }

    // The first column at which the row holds the text; npos when none does.
    std::size_t Where(std::string_view row) const {
        const std::string_view shown = CScreenText::UpToNul(row);
        const std::size_t n = m_text.size();
        if (shown.size() < n)
            return std::string_view::npos;
        const std::size_t positions = shown.size() - n + 1;
        std::size_t at = 0;
        for (; m_wordWise && at + 8 <= positions; at += 8) {
            const std::uint64_t differ =
                (Word(shown, at) ^ m_first) | (Word(shown, at + n - 1) ^ m_last);
            // The high bit of each byte that is zero (and maybe of some above the first).
            for (std::uint64_t candidates = (differ - kOnes) & ~differ & (kOnes << 7);
                 candidates != 0; candidates &= candidates - 1)
                if (const std::size_t candidate =
                        at + static_cast<std::size_t>(std::countr_zero(candidates)) / 8;
                    MatchAt(shown, candidate))
                    return candidate;
        }
        for (; at < positions; ++at)
            if (MatchAt(shown, at))
                return at;
        return std::string_view::npos;
    }
    bool In(std::string_view row) const { return Where(row) != std::string_view::npos; }

private:
    static constexpr std::uint64_t kOnes = 0x0101010101010101u;
    static constexpr unsigned kCaseBit = 0x20;

    // Whether every byte that folds to `folded` differs from it at most in the case bit.
    static bool ByCaseBit(unsigned char folded) {
        for (int b = 0; b < 256; ++b)
            if (CTrigramFilter::Folded(static_cast<char>(b)) == folded &&
                (b | kCaseBit) != (folded | kCaseBit))
                return false;
        return true;
    }
    // Eight bytes of the row from `at`, each with the case bit set.
    static std::uint64_t Word(std::string_view row, std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, row.data() + at, 8);
        return word | kOnes * kCaseBit;
    }
    bool MatchAt(std::string_view row, std::size_t at) const {
        return std::equal(m_text.begin(), m_text.end(),
                          row.begin() + static_cast<std::ptrdiff_t>(at), [](char t, char c) {
                              return static_cast<unsigned char>(t) == CTrigramFilter::Folded(c);
                          });
    }

    std::string m_text;
    bool m_wordWise = false;
    std::uint64_t m_first = 0;
    std::uint64_t m_last = 0;
};

// The records of one block read in order into the screen rebuilt from its checkpoint. Each
// record is interpreted as it is read, straight from the record, so the screen stands as it did
// just after it; a sequence left incomplete is carried over to the next record, as the
// receive queue carries it over to the next drain. The block's records, read whole when it was
// indexed, come in one read: a serial reader's records are small and many.
class CJournalIndex::Replay {
public:
    Replay(const std::filesystem::path& path, const Block& block)
        : m_bytes(block.m_bytes + block.m_records * CTtyrecRecord::kHeaderSize, '\0'),
          m_screen(std::make_unique<CTerminalScreen>()) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(block.m_offset));
        in.read(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
        m_bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
        m_screen->Interpret(block.m_checkpoint);
    }

    bool Next() {
        constexpr std::size_t kHeader = CTtyrecRecord::kHeaderSize;
        const std::string_view rest = std::string_view(m_bytes).substr(m_at);
        if (rest.size() < kHeader || !m_record.DecodeHeader(rest.data()) ||
            rest.size() - kHeader < m_record.m_length)
            return false; // the file changed since it was indexed
        m_screen->Interpret(rest.substr(kHeader, m_record.m_length));
        m_at += kHeader + m_record.m_length;
        return true;
    }
    CTerminalScreen& Screen() { return *m_screen; }
    // The screen with the carried bytes still pending.
    std::unique_ptr<CTerminalScreen> TakeScreen() { return std::move(m_screen); }
    Time LastTime() const { return m_record.m_time; }

private:
    std::string m_bytes;
    std::size_t m_at = 0;
    CTtyrecRecord m_record;
    std::unique_ptr<CTerminalScreen> m_screen;
};

CJournalIndex::CJournalIndex(std::filesystem::path folder, std::string dayPrefix)
    : m_folder(std::move(folder)), m_dayPrefix(std::move(dayPrefix)),
      m_tail(std::make_unique<CTerminalScreen>()) {}

CJournalIndex::CJournalIndex(const std::vector<std::filesystem::path>& files)
    : m_fixedFiles(true), m_tail(std::make_unique<CTerminalScreen>()) {
    std::vector<std::pair<Time, std::filesystem::path>> ordered;
    for (const std::filesystem::path& path : files)
        ordered.emplace_back(FirstTime(path).value_or(Time::max()), path);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [first, path] : ordered)
        m_files.push_back(File{.m_path = std::move(path), .m_note = {}});
}

bool CJournalIndex::Update(const CJournalLiveFeed::Taken& live, bool& inStep) {
    inStep = true;
    if (!live.m_file.empty())
        m_readUntil.emplace(live.m_file, live.m_from);
    bool changed = Update();
    m_readUntil.reset();
    for (const CIndexedRecord& record : live.m_records) {
        if (m_reading >= m_files.size() ||
            m_files[m_reading].m_path.filename() != live.m_file.filename() ||
            m_files[m_reading].m_end != record.Offset()) {
            inStep = false;
            break;
        }
        Add(m_reading, record);
        m_tailBehind = true;
        changed = true;
    }
    return changed;
}

bool CJournalIndex::Update() {
    const std::uint64_t before = m_recordCount;
    const bool reread = !m_fixedFiles && RereadIfEarlierFileGrew();
    const bool laterDay = m_fixedFiles || AddNewFiles();
    for (; m_reading < m_files.size(); ++m_reading) {
        const bool closed = laterDay || m_reading + 1 < m_files.size();
        const bool unread = m_files[m_reading].m_end == 0;
        if (!(closed && unread && LoadFile(m_reading))) {
            ReadFile(m_reading);
            if (closed)
                SaveFile(m_reading);
        }
        if (!closed)
            break; // the newest file may still grow
        CloseMoments(m_files[m_reading]);
        // A file on its own rebuilds its screen: the next one starts from a fresh screen.
        ResetTail();
    }
    return reread || m_recordCount != before;
}

// Only the file being written grows; a torn end of another stays as it is.
bool CJournalIndex::RereadIfEarlierFileGrew() {
    const auto grown = std::find_if(
        m_files.begin(), m_files.begin() + std::ptrdiff_t(m_reading), [](const File& file) {
            std::error_code error;
            return std::filesystem::file_size(file.m_path, error) > file.m_size && !error;
        });
    if (grown == m_files.begin() + std::ptrdiff_t(m_reading))
        return false;
    std::vector<File> files;
    for (File& file : m_files)
        if (&file != &*grown)
            files.push_back(File{.m_path = std::move(file.m_path), .m_note = {}});
    files.push_back(File{.m_path = std::move(grown->m_path), .m_note = {}});
    m_files = std::move(files);
    m_reading = 0;
    m_blocks.clear();
    m_recordCount = 0;
    m_lastTime.reset();
    m_moments.clear();
    ResetTail();
    return true;
}

void CJournalIndex::ResetTail() {
    m_tail = std::make_unique<CTerminalScreen>();
    m_tailBehind = false;
}

// Only the newest file is fed, so the last block is the one the tail is in.
void CJournalIndex::RebuildTail() {
    m_tailBehind = false;
    const Block& block = m_blocks.back();
    Replay replay(m_files[block.m_file].m_path, block);
    for (std::uint64_t r = 0; r < block.m_records; ++r)
        if (!replay.Next())
            break;
    m_tail = replay.TakeScreen();
}

void CJournalIndex::Persist() const {
    if (!m_files.empty())
        SaveFile(m_files.size() - 1);
}

// Takes a closed file's blocks from its index file, when that matches the file.
bool CJournalIndex::LoadFile(std::size_t index) {
    File& file = m_files[index];
    std::optional<CJournalIndexFile::Contents> contents = CJournalIndexFile::Load(file.m_path);
    if (!contents)
        return false;
    file.m_firstRecord = m_recordCount;
    file.m_firstBlock = m_blocks.size();
    for (CJournalIndexFile::Block& saved : contents->m_blocks) {
        Block& block = m_blocks.emplace_back();
        static_cast<CJournalIndexFile::Block&>(block) = std::move(saved);
        block.m_file = index;
        block.m_firstRecord += m_recordCount;
    }
    // Only what can be a record of the file, in order.
    for (const std::uint64_t moment : contents->m_moments)
        if (moment < contents->m_records &&
            (m_moments.empty() || m_recordCount + moment > m_moments.back()))
            m_moments.push_back(m_recordCount + moment);
    m_recordCount += contents->m_records;
    file.m_records = contents->m_records;
    file.m_lastTime = contents->m_lastTime;
    if (contents->m_records > 0)
        m_lastTime = contents->m_lastTime;
    file.m_end = contents->m_size;
    file.m_size = contents->m_size;
    file.m_note = std::move(contents->m_note);
    return true;
}

void CJournalIndex::SaveFile(std::size_t index) const {
    const File& file = m_files[index];
    if (file.m_end == 0)
        return;
    CJournalIndexFile::Contents contents;
    // A torn end is part of what was read: the index covers it too.
    std::error_code error;
    contents.m_size =
        file.m_note.empty() ? file.m_end : std::filesystem::file_size(file.m_path, error);
    contents.m_note = file.m_note;
    for (std::size_t b = file.m_firstBlock; b < m_blocks.size() && m_blocks[b].m_file == index;
         ++b) {
        CJournalIndexFile::Block& block = contents.m_blocks.emplace_back(m_blocks[b]);
        block.m_firstRecord -= file.m_firstRecord;
    }
    contents.m_records = file.m_records;
    contents.m_lastTime = file.m_lastTime;
    for (auto moment = std::lower_bound(m_moments.begin(), m_moments.end(), file.m_firstRecord);
         moment != m_moments.end() && *moment < file.m_firstRecord + file.m_records; ++moment)
        contents.m_moments.push_back(*moment - file.m_firstRecord);
    CJournalIndexFile::Save(file.m_path, contents);
}

std::vector<std::filesystem::path> CJournalIndex::JournalFiles(const std::filesystem::path& folder,
                                                               std::string_view prefix) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && IsJournalName(name) && entry.is_regular_file(error))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string CJournalIndex::NewestDay(const std::filesystem::path& folder) {
    const std::vector<std::string> days = Days(folder);
    return days.empty() ? std::string() : days.back();
}

std::vector<std::string> CJournalIndex::Days(const std::filesystem::path& folder) {
    constexpr std::size_t kDayLength = 10; // YYYY-MM-DD
    std::vector<std::string> days;
    for (const std::filesystem::path& file : JournalFiles(folder, "")) {
        std::string day = file.filename().string().substr(0, kDayLength);
        if (days.empty() || days.back() != day)
            days.push_back(std::move(day));
    }
    return days;
}

bool CJournalIndex::IsJournalName(std::string_view name) {
    static const std::regex kName(R"(\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}(_\d+)?\.ttyrec)");
    return std::regex_match(name.begin(), name.end(), kName);
}

std::optional<CJournalIndex::Time> CJournalIndex::FirstTime(const std::filesystem::path& path) {
    CJournalStream stream(path);
    CTtyrecReader reader(stream.In());
    if (CTtyrecRecord record; reader.Next(record))
        return record.m_time;
    return std::nullopt;
}

// Files not known yet go after the known ones, which are read already. A file without a record
// is one just begun.
bool CJournalIndex::AddNewFiles() {
    std::vector<std::pair<Time, std::filesystem::path>> added;
    bool laterDay = false;
    for (std::filesystem::path& path : JournalFiles(m_folder, "")) {
        const std::string name = path.filename().string();
        if (!name.starts_with(m_dayPrefix)) {
            laterDay = laterDay || name > m_dayPrefix;
            continue;
        }
        if (std::none_of(m_files.begin(), m_files.end(),
                         [&](const File& file) { return file.m_path == path; }))
            added.emplace_back(FirstTime(path).value_or(Time::max()), std::move(path));
    }
    std::sort(added.begin(), added.end());
    for (auto& [first, path] : added)
        m_files.push_back(File{.m_path = std::move(path), .m_note = {}});
    return laterDay;
}

void CJournalIndex::ReadFile(std::size_t index) {
    File& file = m_files[index];
    if (file.m_end == 0) {
        file.m_firstRecord = m_recordCount;
        file.m_firstBlock = m_blocks.size();
    }
    const std::uint64_t until =
        m_readUntil && m_readUntil->first.filename() == file.m_path.filename()
            ? m_readUntil->second
            : std::numeric_limits<std::uint64_t>::max();
    if (file.m_end >= until)
        return;
    if (m_tailBehind)
        RebuildTail();
    std::error_code error;
    file.m_size = std::filesystem::file_size(file.m_path, error);
    CJournalStream stream(file.m_path);
    CTtyrecReader reader(stream.In());
    reader.Seek(file.m_end);
    for (CTtyrecRecord record; file.m_end < until && reader.Next(record);) {
        const bool firstOfFile = m_blocks.empty() || m_blocks.back().m_file != index;
        if (firstOfFile || m_blocks.back().m_bytes >= kCheckpointBytes) {
            m_tail->TakeChangedRows();
            StartBlock(index, record.m_offset, record.m_time,
                       firstOfFile ? std::string() : CScreenCommands::Of(*m_tail), m_tail->Rows());
        }
        // Each record on its own, so the filter sees every moment's rows.
        m_tail->Interpret(record.m_data);
        FilterChanges(Count(index, record.m_length, record.m_time, record.End()));
    }
    // A torn end of the newest file may be a record still being written: read again next time.
    file.m_note = reader.Note().empty() ? std::string()
                                        : file.m_path.filename().string() + ": " + reader.Note();
}

// Decides, as a record comes in, whether the screen settled at the one before it.
void CJournalIndex::NoteMoment(const File& file, Time time) {
    if (file.m_records == 0) {
        m_momentStart = time;
        return;
    }
    // A clock set back breaks the stream too.
    if (time - file.m_lastTime >= kQuiet || time - m_momentStart >= kMomentEvery ||
        time < file.m_lastTime) {
        m_moments.push_back(m_recordCount - 1);
        m_momentStart = time;
    }
}

// A file's end is a moment: the next file starts from a screen of its own.
void CJournalIndex::CloseMoments(const File& file) {
    const std::uint64_t last = file.m_firstRecord + file.m_records - 1;
    if (file.m_records > 0 && (m_moments.empty() || m_moments.back() < last))
        m_moments.push_back(last);
}

// A record interpreted elsewhere: what it changed on the rows goes into its block's filter.
void CJournalIndex::Add(std::size_t index, const CIndexedRecord& record) {
    if (record.BeginsBlock())
        StartBlock(index, record.Offset(), record.When(), record.Checkpoint(), record.RowsBefore());
    Block& block = Count(index, record.Length(), record.When(), record.End());
    for (const auto& [row, now] : record.ChangedRows())
        NoteRow(block, row, now);
}

CJournalIndex::Block& CJournalIndex::Count(std::size_t index, std::uint64_t length, Time time,
                                           std::uint64_t end) {
    File& file = m_files[index];
    Block& block = m_blocks.back();
    NoteMoment(file, time);
    ++block.m_records;
    block.m_bytes += length;
    ++m_recordCount;
    ++file.m_records;
    m_lastTime = file.m_lastTime = time;
    file.m_end = end;
    return block;
}

void CJournalIndex::StartBlock(std::size_t file, std::uint64_t offset, Time time,
                               std::string checkpoint, const std::vector<std::string>& rows) {
    Block block;
    block.m_file = file;
    block.m_offset = offset;
    block.m_firstRecord = m_recordCount;
    block.m_firstTime = time;
    block.m_checkpoint = std::move(checkpoint);
    m_shownRows = rows;
    for (const std::string& row : m_shownRows)
        block.m_filter.Add(row);
    m_blocks.push_back(std::move(block));
}

// Adds to a block's filter and changed cells what the last record changed on the rows.
void CJournalIndex::FilterChanges(Block& block) {
    const std::vector<std::string>& rows = m_tail->Rows();
    for (std::uint64_t changed = m_tail->TakeChangedRows(); changed != 0; changed &= changed - 1) {
        const auto row = static_cast<std::size_t>(std::countr_zero(changed));
        if (row >= rows.size())
            break;
        NoteRow(block, row, rows[row]);
    }
}

void CJournalIndex::NoteRow(Block& block, std::size_t row, std::string_view now) {
    block.m_changed[row] |= ChangedCells(m_shownRows[row], now);
    block.m_filter.AddChanged(m_shownRows[row], now);
}

std::uint64_t CJournalIndex::UnreadBytes() const {
    if (m_files.empty())
        return 0;
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(m_files.back().m_path, error);
    return error ? 0 : size - std::min(size, m_files.back().m_end);
}

std::vector<std::string> CJournalIndex::Notes() const {
    std::vector<std::string> notes;
    // The newest file's end is usually a record still being written, not a torn one.
    for (std::size_t f = 0; f + 1 < m_files.size(); ++f)
        if (!m_files[f].m_note.empty())
            notes.push_back(m_files[f].m_note);
    return notes;
}

std::optional<CJournalIndex::Time> CJournalIndex::FirstTime() const {
    if (m_blocks.empty())
        return std::nullopt;
    return m_blocks.front().m_firstTime;
}

std::size_t CJournalIndex::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + m_blocks.capacity() * sizeof(Block) +
                        m_files.capacity() * sizeof(File) +
                        m_moments.capacity() * sizeof(std::uint64_t) +
                        CTerminalScreen::kRows * (CTerminalScreen::kCols + sizeof(std::string));
    for (const Block& block : m_blocks)
        bytes += block.m_checkpoint.capacity();
    for (const File& file : m_files)
        bytes += file.m_path.native().capacity() + file.m_note.capacity();
    return bytes;
}

std::size_t CJournalIndex::BlockOf(std::uint64_t record) const {
    const auto after = std::upper_bound(
        m_blocks.begin(), m_blocks.end(), record,
        [](std::uint64_t r, const Block& block) { return r < block.m_firstRecord; });
    return static_cast<std::size_t>(after - m_blocks.begin()) - 1;
}

std::uint64_t CJournalIndex::MomentFrom(std::uint64_t from, std::int64_t moments) const {
    if (moments == 0 || m_recordCount == 0)
        return from;
    if (moments > 0) {
        const auto after = static_cast<std::uint64_t>(
            std::upper_bound(m_moments.begin(), m_moments.end(), from) - m_moments.begin());
        const auto at = after + static_cast<std::uint64_t>(moments) - 1;
        return at < m_moments.size() ? m_moments[at] : m_recordCount - 1;
    }
    const auto before = static_cast<std::uint64_t>(
        std::lower_bound(m_moments.begin(), m_moments.end(), from) - m_moments.begin());
    const auto back = static_cast<std::uint64_t>(-(moments + 1)) + 1;
    return back <= before ? m_moments[before - back] : 0;
}

std::optional<CJournalIndex::Moment> CJournalIndex::At(std::uint64_t record) const {
    if (record >= m_recordCount)
        return std::nullopt;
    const Block& block = m_blocks[BlockOf(record)];
    Replay replay(m_files[block.m_file].m_path, block);
    for (std::uint64_t r = block.m_firstRecord; r <= record; ++r)
        if (!replay.Next())
            return std::nullopt;
    return Moment{record, replay.LastTime(), replay.TakeScreen()};
}

std::optional<std::uint64_t> CJournalIndex::RecordAt(Time time) const {
    if (m_blocks.empty())
        return std::nullopt;
    const auto after =
        std::upper_bound(m_blocks.begin(), m_blocks.end(), time,
                         [](Time t, const Block& block) { return t < block.m_firstTime; });
    if (after == m_blocks.begin())
        return 0;
    const Block& block = *(after - 1);
    CJournalStream stream(m_files[block.m_file].m_path);
    CTtyrecReader reader(stream.In());
    reader.Seek(block.m_offset);
    std::uint64_t found = block.m_firstRecord;
    CTtyrecRecord record;
    for (std::uint64_t r = block.m_firstRecord;
         r < block.m_firstRecord + block.m_records && reader.Next(record); ++r) {
        if (record.m_time > time)
            break;
        found = r;
    }
    return found;
}

std::optional<CJournalIndex::Place> CJournalIndex::PlaceOf(const std::vector<std::string>& rows,
                                                           std::string_view text) {
    if (text.empty())
        return std::nullopt;
    const FoldedSearch search(CTrigramFilter::Fold(text));
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (const std::size_t col = search.Where(rows[row]); col != std::string_view::npos)
            return Place{static_cast<int>(row), static_cast<int>(col)};
    return std::nullopt;
}

namespace {

// Runs `work` on every core, this thread included, but on no more threads than `blocks`; each
// takes blocks from a shared counter until none is left. Returns once all are done.
template <class Work> void OnEveryCore(const Work& work, std::size_t blocks) {
    const unsigned helpers = std::max(1u, std::thread::hardware_concurrency()) - 1;
    std::vector<std::jthread> threads;
    for (unsigned t = 0; t < helpers && t + 1 < blocks; ++t)
        threads.emplace_back(work);
    work();
}

} // namespace

std::optional<std::uint64_t> CJournalIndex::Find(std::string_view text, std::uint64_t from,
                                                 bool forward) const {
    if (text.empty() || (forward ? from + 1 >= m_recordCount : from == 0))
        return std::nullopt;
    const std::string folded = CTrigramFilter::Fold(text);
    const FoldedSearch search(folded);
    // The blocks to search, nearest first; a block whose rows never showed the text is not.
    std::vector<std::size_t> order;
    const auto consider = [&](std::size_t b) {
        if (m_blocks[b].m_filter.MayHold(folded))
            order.push_back(b);
    };
    if (forward) {
        for (std::size_t b = BlockOf(from + 1); b < m_blocks.size(); ++b)
            consider(b);
    } else {
        for (std::size_t b = BlockOf(std::min(from, m_recordCount) - 1) + 1; b-- > 0;)
            consider(b);
    }
    // Every block replays from its own checkpoint, so the cores share the blocks out; a block
    // beyond the nearest one with a hit is not searched.
    std::vector<std::optional<std::uint64_t>> hits(order.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> nearestHit{order.size()};
    const auto work = [&] {
        for (std::size_t i = next++; i < order.size() && i < nearestHit; i = next++) {
            hits[i] = FindInBlock(order[i], search, from, forward);
            for (std::size_t seen = nearestHit; hits[i] && i < seen;)
                nearestHit.compare_exchange_weak(seen, i);
        }
    };
    OnEveryCore(work, order.size());
    for (const auto& hit : hits)
        if (hit)
            return hit;
    return std::nullopt;
}

std::optional<std::uint64_t> CJournalIndex::FindInBlock(std::size_t index,
                                                        const FoldedSearch& search,
                                                        std::uint64_t from, bool forward) const {
    const Block& block = m_blocks[index];
    Replay replay(m_files[block.m_file].m_path, block);
    CTerminalScreen& screen = replay.Screen();
    screen.TakeChangedRows();
    CRowsHolding<FoldedSearch> holding(screen, search);
    bool held = holding.Any();
    std::optional<std::uint64_t> found;
    const std::uint64_t end = block.m_firstRecord + block.m_records;
    for (std::uint64_t r = block.m_firstRecord; r < end && (forward || r < from); ++r) {
        if (!replay.Next())
            break;
        holding.Update(screen.TakeChangedRows());
        const bool holds = holding.Any();
        if (holds && !held) {
            if (forward && r > from)
                return r;
            if (!forward)
                found = r;
        }
        held = holds;
    }
    return found;
}

namespace {

// The text of the cells, side by side.
std::string CellsText(const CTerminalScreen& screen,
                      const std::vector<CJournalIndex::Cells>& cells) {
    std::string text;
    for (const CJournalIndex::Cells& place : cells) {
        const std::string_view row = screen.Rows()[static_cast<std::size_t>(place.m_row)];
        const auto column = std::min(row.size(), static_cast<std::size_t>(place.m_column));
        text += row.substr(column, static_cast<std::size_t>(place.m_width));
    }
    return text;
}

} // namespace

bool CJournalIndex::Follow(const std::vector<Cells>& cells, std::size_t firstBlock,
                           const Seen& seen) const {
    std::array<std::uint64_t, CTerminalScreen::kRows> watched{};
    std::uint64_t rows = 0;
    constexpr int kPerBit = CJournalIndexFile::kColumnsPerBit;
    for (const Cells& place : cells) {
        const auto row = static_cast<std::size_t>(place.m_row);
        for (int column = place.m_column; column < place.m_column + place.m_width; ++column)
            watched[row] |= std::uint64_t{1} << (column / kPerBit % 64);
        rows |= std::uint64_t{1} << row;
    }
    std::vector<std::size_t> order;
    for (std::size_t b = firstBlock; b < m_blocks.size(); ++b) {
        bool touched = b == 0 || m_blocks[b - 1].m_file != m_blocks[b].m_file;
        for (std::size_t row = 0; row < watched.size(); ++row)
            touched = touched || (m_blocks[b].m_changed[row] & watched[row]) != 0;
        if (touched)
            order.push_back(b);
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (std::size_t i = next++; i < order.size() && !failed; i = next++)
            if (!FollowBlock(order[i], cells, rows, seen))
                failed = true;
    };
    OnEveryCore(work, order.size());
    return !failed;
}

bool CJournalIndex::FollowBlock(std::size_t index, const std::vector<Cells>& cells,
                                std::uint64_t rows, const Seen& seen) const {
    const Block& block = m_blocks[index];
    const bool fileStart = index == 0 || m_blocks[index - 1].m_file != block.m_file;
    Replay replay(m_files[block.m_file].m_path, block);
    CTerminalScreen& screen = replay.Screen();
    screen.TakeChangedRows();
    // Most changes to the watched rows are elsewhere on them.
    std::string shown = CellsText(screen, cells);
    const std::uint64_t end = block.m_firstRecord + block.m_records;
    for (std::uint64_t r = block.m_firstRecord; r < end; ++r) {
        if (!replay.Next())
            return false;
        bool differs = false;
        if ((screen.TakeChangedRows() & rows) != 0) {
            std::string now = CellsText(screen, cells);
            differs = now != shown;
            shown = std::move(now);
        }
        if (differs || (fileStart && r == block.m_firstRecord))
            seen(index, r, replay.LastTime(), screen);
    }
    return true;
}
