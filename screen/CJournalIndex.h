#pragma once

#include "CIndexedRecord.h"
#include "CJournalIndexFile.h"
#include "CJournalLiveFeed.h"
#include "CTerminalScreen.h"
#include "CTtyrecRecord.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A timeline over one day's journal files, in the order of their first records (the journal's
// own clock: names follow the local time, which repeats an hour when the clocks go back; the
// files of a journal never overlap in time, so one header of each orders them): every
// record is a moment, numbered across the files, at which the screen changed. The screen of any
// moment is rebuilt from the nearest earlier checkpoint, a screen state stored every
// kCheckpointBytes of line bytes, so the index stays small (no copy of every screen) while any
// moment comes back after at most that many bytes of replay. Update() picks up what the newest file
// gained, and files begun since, so the timeline can follow a journal that is still being written.
// The clock set back between two files puts the file being written before the other: once it
// grows, the timeline is read again with it last.
// Among the records, the moments are those a person sees: the screen as it stood once the line
// fell quiet, or, through a stream that does not pause, one a second. They come from the
// records' times as the records are read, so stepping by them rebuilds no screen.
// A file no longer written (a later one exists) is indexed once: its index is kept beside it
// (CJournalIndexFile) and taken from there while it matches the file.
class CJournalIndex {
public:
    using Time = CTtyrecRecord::Time;
    static constexpr std::size_t kCheckpointBytes = 256 * 1024;
    // A pause of the line this long ends a moment. The statistics computer writes a change as
    // one burst at line speed (bytes 1 ms apart at 9600 baud, a serial reader's chunks a few
    // ms apart), and its changes come seconds apart, so a quarter second splits no burst yet
    // tells apart changes a person would see one after another.
    static constexpr std::chrono::milliseconds kQuiet{250};
    // Through a stream without such a pause (a whole screen sent at 9600 baud takes seconds),
    // a moment ends at least this often.
    static constexpr std::chrono::seconds kMomentEvery{1};

    // The screen just after a record.
    struct Moment {
        std::uint64_t m_record = 0;
        Time m_time{};
        std::unique_ptr<CTerminalScreen> m_screen;
    };

    // Cells a reader watches: a row and a run of columns, 0-based.
    struct Cells {
        int m_row = 0;
        int m_column = 0;
        int m_width = 1;
    };
    using Seen = std::function<void(std::size_t block, std::uint64_t record, Time time,
                                    const CTerminalScreen&)>;

    // The day ("YYYY-MM-DD") of the newest journal file in `folder`; empty when there is none.
    static std::string NewestDay(const std::filesystem::path& folder);
    // The days ("YYYY-MM-DD") of the journal files in `folder`, oldest first.
    static std::vector<std::string> Days(const std::filesystem::path& folder);
    // Whether `name` is one the journal gives its files: YYYY-MM-DD_HH-MM-SS.ttyrec, with _N
    // before the suffix for another file begun within the same second.
    static bool IsJournalName(std::string_view name);

    // The files of `folder` whose names start with `dayPrefix` ("YYYY-MM-DD_").
    CJournalIndex(std::filesystem::path folder, std::string dayPrefix);

    // These files only, none added later; each is closed (its index is kept beside it).
    explicit CJournalIndex(const std::vector<std::filesystem::path>& files);

    // Reads the records added since the last update; true when there were any.
    bool Update();
    // The same, but the file the journal feeds is read only up to where the feeding began, and
    // takes the records fed from there on. False in `inStep` when they do not follow on from
    // what the index holds (another file, a gap): the journal must then begin feeding again.
    bool Update(const CJournalLiveFeed::Taken& live, bool& inStep);
    // Keeps the newest file's index beside it, for the next start, when that file is not
    // growing (closed files keep theirs as soon as they are read).
    void Persist() const;

    std::uint64_t RecordCount() const { return m_recordCount; }
    // Bytes the newest file holds beyond what the index has read of it.
    std::uint64_t UnreadBytes() const;
    std::optional<Time> FirstTime() const;
    std::optional<Time> LastTime() const { return m_lastTime; }
    // Torn ends of the files before the newest, one line each, naming the file.
    std::vector<std::string> Notes() const;
    // What the index holds in memory, in bytes.
    std::size_t MemoryBytes() const;

    // The record `moments` moments after `from` (before it, when negative): the last record
    // counts as a moment, and a step past the first moment lands on the first record.
    std::uint64_t MomentFrom(std::uint64_t from, std::int64_t moments) const;
    // The number of moments, the last record not counted unless the line fell quiet after it.
    std::size_t MomentCount() const { return m_moments.size(); }

    // The screen just after `record` (below RecordCount()); nullopt when the file can no
    // longer be read.
    std::optional<Moment> At(std::uint64_t record) const;
    // The last record at or before `time`; the first record when all are later.
    std::optional<std::uint64_t> RecordAt(Time time) const;
    // The next (forward) or previous moment at which `text` appears on the screen: a shown row
    // holds it, ignoring case, and did not hold it just before. Forward looks after `from`,
    // backward before it.
    std::optional<std::uint64_t> Find(std::string_view text, std::uint64_t from,
                                      bool forward) const;
    // Where rows first show `text` in reading order, ignoring case as Find does: 0-based row
    // and column.
    struct Place {
        int m_row = 0;
        int m_col = 0;
    };
    static std::optional<Place> PlaceOf(const std::vector<std::string>& rows,
                                        std::string_view text);

    // The runs of records between checkpoints: all but the last stay as they are until the
    // timeline is read again or is another's (BlockStart() then differs).
    std::size_t BlockCount() const { return m_blocks.size(); }
    std::pair<std::uint64_t, Time> BlockStart(std::size_t block) const {
        return {m_blocks[block].m_firstRecord, m_blocks[block].m_firstTime};
    }
    // Replays the blocks from `firstBlock` on and calls `seen` with the screen just after each
    // record that changed one of `cells`, and after the first record of each file (which
    // starts from a fresh screen). A block whose records changed none of them is not replayed,
    // so a reader of a few cells goes through a day quickly. The blocks are shared out among
    // the cores: `seen` is called on several threads, each block's records in order on one.
    // False when a file can no longer be read.
    bool Follow(const std::vector<Cells>& cells, std::size_t firstBlock, const Seen& seen) const;

private:
    struct File {
        std::filesystem::path m_path;
        std::uint64_t m_end = 0;  // offset after the last record read
        std::uint64_t m_size = 0; // the file's size when it was last read
        std::string m_note;       // a torn end
        std::uint64_t m_firstRecord = 0;
        std::size_t m_firstBlock = 0;
        std::uint64_t m_records = 0;
        Time m_lastTime{};
    };
    // A run of records of one file, with the screen as it stood before the first of them; its
    // first record is counted across the files.
    struct Block : CJournalIndexFile::Block {
        std::size_t m_file = 0;
    };
    class Replay;
    class FoldedSearch;

    // Named as the journal names them and starting with `prefix`, in name order.
    static std::vector<std::filesystem::path> JournalFiles(const std::filesystem::path& folder,
                                                           std::string_view prefix);
    // The time of the first record; none for a file without one.
    static std::optional<Time> FirstTime(const std::filesystem::path& path);
    bool RereadIfEarlierFileGrew();
    // Adds the files not known yet; true when a journal file of a later day exists.
    bool AddNewFiles();
    void ReadFile(std::size_t file);
    void Add(std::size_t file, const CIndexedRecord& record);
    // The tail rebuilt from the last checkpoint, after records were taken from a feed.
    void RebuildTail();
    bool LoadFile(std::size_t file);
    void SaveFile(std::size_t file) const;
    void StartBlock(std::size_t file, std::uint64_t offset, Time time, std::string checkpoint,
                    const std::vector<std::string>& rows);
    // A record of `file` counted in its block, which it returns.
    Block& Count(std::size_t file, std::uint64_t length, Time time, std::uint64_t end);
    void FilterChanges(Block& block);
    // What one row of the block now shows: into its filter and its changed cells.
    void NoteRow(Block& block, std::size_t row, std::string_view now);
    void NoteMoment(const File& file, Time time);
    void CloseMoments(const File& file);
    void ResetTail();
    std::size_t BlockOf(std::uint64_t record) const;
    bool FollowBlock(std::size_t block, const std::vector<Cells>& cells, std::uint64_t rows,
                     const Seen& seen) const;
    std::optional<std::uint64_t> FindInBlock(std::size_t block, const FoldedSearch& search,
                                             std::uint64_t from, bool forward) const;

    std::filesystem::path m_folder;
    std::string m_dayPrefix;
    bool m_fixedFiles = false;
    std::vector<File> m_files;
    std::size_t m_reading = 0; // the file Update() goes on with
    std::vector<Block> m_blocks;
    std::uint64_t m_recordCount = 0;
    std::optional<Time> m_lastTime;
    // Records after which the screen settled, ascending; the last record of a file being
    // written is added once a later record or its file's end decides it.
    std::vector<std::uint64_t> m_moments;
    // The time of the first record after the last moment: a stream ends a moment a second on.
    Time m_momentStart{};
    // The screen after the last record read, from which the next checkpoint is taken; the
    // incomplete sequence it waits to finish is its pending bytes.
    std::unique_ptr<CTerminalScreen> m_tail;
    // Behind the records taken from a feed, which it did not interpret.
    bool m_tailBehind = false;
    // Its rows as its block's filter last took them.
    std::vector<std::string> m_shownRows;
    // While a feed's records are taken: the file and the offset up to which it is read.
    std::optional<std::pair<std::filesystem::path, std::uint64_t>> m_readUntil;
};
