// libFuzzer target: one day's journal as any bytes, in two files, the newer of them written in
// two steps with an update between (a journal being written, torn ends included). The first two
// bytes choose the cuts. Both the index that followed the writing and one made afterwards hold
// the records a reader finds in the files, in the order of their first records; the screen of
// every moment is the one the records up to it make in a fresh screen for each file; and what
// the searches and the steps by moments answer lies on their side of the moment they start
// from.
#include "CJournalIndex.h"
#include "CTtyrecReader.h"
#include "FuzzCheck.h"
#include "ScreenTestSupport.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("tallyview-fuzz-" + std::to_string(getpid()));
        fs::create_directories(path);
        std::atexit([] { fs::remove_all(Folder()); });
        return path;
    }();
    return folder;
}

void Write(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

// The screen after every record of the files, in the order given.
std::vector<ScreenState> Moments(const std::vector<std::string_view>& files) {
    std::vector<ScreenState> moments;
    for (const std::string_view file : files) {
        std::istringstream in{std::string(file)};
        CTtyrecReader reader(in);
        CTerminalScreen screen;
        for (CTtyrecRecord record; reader.Next(record);) {
            screen.ReceiveBytes(record.m_data);
            screen.ProcessReceived();
            moments.push_back(StateOf(screen));
        }
    }
    return moments;
}

std::optional<CTtyrecRecord::Time> FirstTime(std::string_view file) {
    std::istringstream in{std::string(file)};
    CTtyrecReader reader(in);
    if (CTtyrecRecord record; reader.Next(record))
        return record.m_time;
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string_view older = rest.substr(0, rest.size() * data[0] / 256);
    const std::string_view newer = rest.substr(older.size());
    const std::string_view begun = newer.substr(0, newer.size() * data[1] / 256);
    const fs::path olderPath = Folder() / "2026-10-25_02-30-00.ttyrec";
    const fs::path newerPath = Folder() / "2026-10-25_02-15-00.ttyrec";

    Write(olderPath, older);
    Write(newerPath, begun);
    CJournalIndex followed(Folder(), "2026-10-25_");
    followed.Update();
    Write(newerPath, newer);
    followed.Update();
    CJournalIndex fresh(Folder(), "2026-10-25_");
    fresh.Update();

    // Files in the order of their first records, as each index first saw them; one without a
    // record yet is one just begun, so it goes last, as does the file being written once it grew.
    const auto first = [](std::string_view file) {
        return FirstTime(file).value_or(CTtyrecRecord::Time::max());
    };
    const auto moments = [&](std::string_view seen) {
        const bool newerFirst = (first(seen) < first(older) ||
                                 (first(seen) == first(older) && newerPath < olderPath)) &&
                                seen.size() == newer.size();
        return Moments(newerFirst ? std::vector{newer, older} : std::vector{older, newer});
    };
    for (const auto& [index, seen] : {std::pair{&followed, begun}, std::pair{&fresh, newer}}) {
        const std::vector<ScreenState> expected = moments(seen);
        const std::uint64_t count = expected.size();
        Check(index->RecordCount() == count);
        for (std::uint64_t r = 0; r < count; r += 1 + count / 16) {
            std::optional<CJournalIndex::Moment> moment = index->At(r);
            Check(moment && moment->m_record == r);
            moment->m_screen->ProcessReceived();
            Check(StateOf(*moment->m_screen) == expected[r]);
        }
        Check(!index->At(count));
        for (std::uint64_t r = 0; r < count; r += 1 + count / 16) {
            const std::uint64_t next = index->MomentFrom(r, 1);
            const std::uint64_t previous = index->MomentFrom(r, -1);
            Check((next > r || next == count - 1) && next < count);
            Check(previous < r || previous == 0);
        }
    }
    const std::uint64_t count = fresh.RecordCount();
    if (count == 0)
        return 0;
    const std::uint64_t from = data[0] % count;
    const std::string text(rest.substr(rest.size() / 2, 1 + data[1] % 3));
    if (const auto found = fresh.Find(text, from, true))
        Check(*found > from && *found < count);
    if (const auto found = fresh.Find(text, from, false))
        Check(*found < from);
    if (const auto at = fresh.RecordAt(*fresh.LastTime()))
        Check(*at < count);
    return 0;
}
