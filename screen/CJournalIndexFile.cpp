#include "CJournalIndexFile.h"

#include <array>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "TVINDEX3";
// Bytes hashed at each end of the journal file: an edit there, or another file of the same
// size and time, shows.
constexpr std::uint64_t kHashedBytes = 64 * 1024;

// FNV-1a, 64 bits.
std::uint64_t Hash(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return hash;
}

std::optional<std::string> ReadRange(std::ifstream& in, std::uint64_t from, std::uint64_t count) {
    std::string bytes(count, '\0');
    in.seekg(static_cast<std::streamoff>(from));
    if (!in.read(bytes.data(), static_cast<std::streamsize>(count)))
        return std::nullopt;
    return bytes;
}

class CWriter {
public:
    void Number(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8)
            m_bytes += static_cast<char>(value >> shift & 0xFF);
    }
    void Time(CJournalIndexFile::Time time) {
        Number(static_cast<std::uint64_t>(time.time_since_epoch().count()));
    }
    void Text(std::string_view text) {
        Number(text.size());
        m_bytes += text;
    }
    std::string& Bytes() { return m_bytes; }

private:
    std::string m_bytes;
};

// Reads what CWriter wrote; any read past the end makes the whole read fail.
class CReader {
public:
    explicit CReader(std::string_view bytes) : m_bytes(bytes) {}

    std::uint64_t Number() {
        if (m_bytes.size() - m_at < 8) {
            m_failed = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(m_bytes[m_at + i]);
        m_at += 8;
        return value;
    }
    CJournalIndexFile::Time Time() {
        return CJournalIndexFile::Time(
            std::chrono::microseconds(static_cast<std::int64_t>(Number())));
    }
    std::string Text() {
        const std::uint64_t size = Number();
        if (m_failed || m_bytes.size() - m_at < size) {
            m_failed = true;
            return {};
        }
        std::string text(m_bytes.substr(m_at, size));
        m_at += size;
        return text;
    }
    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_at == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};

} // namespace

// What identifies the journal file's bytes.
struct CJournalIndexFile::Stamp {
    std::uint64_t m_time = 0;
    std::uint64_t m_head = 0;
    std::uint64_t m_tail = 0;
};

fs::path CJournalIndexFile::PathOf(const fs::path& journal) {
    fs::path path = journal;
    path += std::string(kSuffix);
    return path;
}

std::optional<CJournalIndexFile::Stamp> CJournalIndexFile::StampOf(const fs::path& journal,
                                                                   std::uint64_t size) {
    std::error_code error;
    if (fs::file_size(journal, error) != size || error)
        return std::nullopt;
    const auto time = fs::last_write_time(journal, error);
    std::ifstream in(journal, std::ios::binary);
    const std::uint64_t hashed = std::min(size, kHashedBytes);
    const std::optional<std::string> head = ReadRange(in, 0, hashed);
    const std::optional<std::string> tail = ReadRange(in, size - hashed, hashed);
    if (error || !head || !tail)
        return std::nullopt;
    return Stamp{static_cast<std::uint64_t>(time.time_since_epoch().count()), Hash(*head),
                 Hash(*tail)};
}

bool CJournalIndexFile::Save(const fs::path& journal, const Contents& contents) {
    const std::optional<Stamp> stamp = StampOf(journal, contents.m_size);
    if (!stamp)
        return false;
    CWriter out;
    out.Bytes() += kMagic;
    for (const std::uint64_t number :
         {contents.m_size, stamp->m_time, stamp->m_head, stamp->m_tail, contents.m_records})
        out.Number(number);
    out.Time(contents.m_lastTime);
    out.Text(contents.m_note);
    out.Number(contents.m_blocks.size());
    for (const Block& block : contents.m_blocks) {
        for (const std::uint64_t number :
             {block.m_offset, block.m_firstRecord, block.m_records, block.m_bytes})
            out.Number(number);
        out.Time(block.m_firstTime);
        out.Text(block.m_checkpoint);
        for (const std::uint64_t word : block.m_filter.Bits())
            out.Number(word);
        for (const std::uint64_t word : block.m_changed)
            out.Number(word);
    }
    out.Number(contents.m_moments.size());
    for (const std::uint64_t moment : contents.m_moments)
        out.Number(moment);
    out.Number(Hash(out.Bytes()));

    const fs::path path = PathOf(journal);
    fs::path temporary = path;
    temporary += ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file.write(out.Bytes().data(), static_cast<std::streamsize>(out.Bytes().size())) ||
            !file.flush())
            return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error)
        fs::remove(temporary, error);
    return !error;
}

std::optional<CJournalIndexFile::Contents> CJournalIndexFile::Load(const fs::path& journal) {
    std::ifstream file(PathOf(journal), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    constexpr std::size_t kHashSize = 8;
    if (!bytes.starts_with(kMagic) || bytes.size() < kMagic.size() + kHashSize)
        return std::nullopt;
    const std::string_view body(bytes.data(), bytes.size() - kHashSize);
    CReader hash(std::string_view(bytes).substr(body.size()));
    if (hash.Number() != Hash(body))
        return std::nullopt;

    CReader in(body.substr(kMagic.size()));
    Contents contents;
    contents.m_size = in.Number();
    const Stamp saved{in.Number(), in.Number(), in.Number()};
    contents.m_records = in.Number();
    contents.m_lastTime = in.Time();
    contents.m_note = in.Text();
    const std::uint64_t blocks = in.Number();
    for (std::uint64_t b = 0; b < blocks && !in.Failed(); ++b) {
        Block& block = contents.m_blocks.emplace_back();
        block.m_offset = in.Number();
        block.m_firstRecord = in.Number();
        block.m_records = in.Number();
        block.m_bytes = in.Number();
        block.m_firstTime = in.Time();
        block.m_checkpoint = in.Text();
        for (std::uint64_t& word : block.m_filter.Bits())
            word = in.Number();
        for (std::uint64_t& word : block.m_changed)
            word = in.Number();
    }
    const std::uint64_t moments = in.Number();
    for (std::uint64_t m = 0; m < moments && !in.Failed(); ++m)
        contents.m_moments.push_back(in.Number());
    if (in.Failed() || !in.AtEnd())
        return std::nullopt;
    const std::optional<Stamp> now = StampOf(journal, contents.m_size);
    if (!now || now->m_time != saved.m_time || now->m_head != saved.m_head ||
        now->m_tail != saved.m_tail)
        return std::nullopt;
    return contents;
}
