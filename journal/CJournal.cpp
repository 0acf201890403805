#include "CJournal.h"

#include "CJournalIndex.h"
#include "CScreenCommands.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

CTtyrecRecord::Time NextMidnight(CTtyrecRecord::Time time) {
    return CJournalFolder::ToTime(CJournalFolder::ToDateTime(time).date().addDays(1).startOfDay());
}

// Asks the system to put the file's data on the disk; false with errno set when it cannot.
bool SyncData(int handle) {
#ifdef Q_OS_WIN
    return _commit(handle) == 0;
#else
    return ::fdatasync(handle) == 0;
#endif
}

} // namespace

CJournal::CJournal(Settings settings, const CTerminalScreen& screen)
    : CLineFollower({QStringLiteral("journal"), settings.m_maxQueued, kWriteInterval,
                     settings.m_clock, qsizetype(kMaxRecord)},
                    screen),
      m_settings(std::move(settings)), m_folder(m_settings.m_folder),
      m_feed(CJournalLiveFeed::Of(QFile::encodeName(m_folder.Path()).toStdString())) {
    Start();
}

CJournal::~CJournal() {
    Finish();
}

CJournal::Status CJournal::CurrentStatus() const {
    const std::lock_guard lock(m_statusMutex);
    return m_status;
}

QString CJournal::StateLine() const {
    const Status status = CurrentStatus();
    if (status.m_file.isEmpty())
        return QStringLiteral("Journal: stopped: ") + status.m_reason;
    return QStringLiteral("Journal: writing to ") + QDir::toNativeSeparators(status.m_file);
}

void CJournal::Begin() {
    const Time start = Now();
    m_folder.Prune(m_settings.m_days, m_settings.m_maxBytes, CJournalFolder::ToDateTime(start));
    BeginFile(start);
}

void CJournal::End() {
    WriteOut();
    SyncIfDue(true);
    CloseFile();
}

void CJournal::Dropped(quint64 bytes) {
    Stop(QStringLiteral("%1 bytes came while the disk did not take any").arg(bytes));
}

// A chunk is never longer than a record readers accept: the follower cuts longer ones.
void CJournal::Follow(const Chunk& chunk) {
    if (chunk.m_time >= m_rotateAt)
        Rotate(chunk.m_time);
    if (m_file.isOpen())
        AddRecord(chunk.m_time, std::string_view(chunk.m_bytes.constData(),
                                                 static_cast<std::size_t>(chunk.m_bytes.size())));
}

// The blocks are counted as History's index cuts them, whether it follows or not, so that it can
// begin following at any record.
void CJournal::AddRecord(Time time, std::string_view bytes) {
    const bool beginsBlock = m_offset == 0 || m_blockBytes >= CJournalIndex::kCheckpointBytes;
    if (beginsBlock)
        m_blockBytes = 0;
    m_blockBytes += bytes.size();
    if (m_feeding != 0) {
        m_indexed.emplace_back(m_offset, static_cast<std::uint32_t>(bytes.size()), time,
                               beginsBlock, m_offset == 0, Shadow());
        m_indexing = true;
    }
    CTtyrecRecord::Encode(time, bytes, m_out);
    m_offset += CTtyrecRecord::kHeaderSize + bytes.size();
}

void CJournal::Interpreted() {
    if (std::exchange(m_indexing, false))
        m_indexed.back().Interpreted(Shadow());
}

void CJournal::Followed() {
    const Time now = Now();
    if (now >= m_rotateAt)
        Rotate(now);
    // A file begins with the screen, so not before the follower's is the line's again.
    if (!m_file.isOpen() && Steady::now() >= m_retryAt && ShadowCurrent())
        BeginFile(now);
    WriteOut();
    SyncIfDue(false);
    FeedHistory();
}

// Only once the file holds every record before the point it begins from.
void CJournal::FeedHistory() {
    if (m_feeding != 0 && !m_feed->Feeding(m_feeding)) {
        m_feeding = 0;
        m_indexed.clear();
    }
    if (m_feeding == 0 && m_file.isOpen() && m_out.empty())
        m_feeding = m_feed->Begin(QFile::encodeName(m_file.fileName()).toStdString(), m_offset);
}

// A new day: the day's file ends and the next begins from the screen as it stands.
void CJournal::Rotate(Time now) {
    const bool writing = m_file.isOpen();
    if (writing) {
        WriteOut();
        SyncIfDue(true);
        CloseFile();
    }
    m_folder.Prune(m_settings.m_days, m_settings.m_maxBytes, CJournalFolder::ToDateTime(now));
    m_rotateAt = NextMidnight(now);
    if (writing)
        BeginFile(now);
}

void CJournal::BeginFile(Time now) {
    m_rotateAt = NextMidnight(now);
    if (!QDir().mkpath(m_folder.Path())) {
        Stop(QStringLiteral("the folder %1 cannot be created")
                 .arg(QDir::toNativeSeparators(m_folder.Path())));
        return;
    }
    m_file.setFileName(m_folder.NewFile(CJournalFolder::ToDateTime(now)));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        Stop(m_file.errorString());
        return;
    }
    m_offset = 0;
    AddRecord(now, CScreenCommands::Of(Shadow()));
    WriteOut();
    if (!m_file.isOpen())
        return;
    m_begun = true;
    SetStatus(m_file.fileName(), {});
}

void CJournal::WriteOut() {
    if (!m_file.isOpen() || m_out.empty())
        return;
    const auto size = static_cast<qint64>(m_out.size());
    if (m_file.write(m_out.data(), size) != size) {
        Stop(m_file.errorString());
        return;
    }
    m_out.clear();
    m_unsynced = true;
    if (m_feeding != 0 && !m_indexed.empty())
        m_feed->Add(m_feeding, std::exchange(m_indexed, {}), Shadow());
}

void CJournal::SyncIfDue(bool now) {
    if (!m_file.isOpen() || !m_unsynced || (!now && Steady::now() - m_lastSync < kSyncInterval))
        return;
    m_lastSync = Steady::now();
    m_unsynced = false;
    if (!SyncData(m_file.handle()))
        Stop(QString::fromLocal8Bit(std::strerror(errno)));
}

void CJournal::Stop(const QString& reason) {
    CloseFile();
    m_out.clear();
    m_retryAt = Steady::now() + m_settings.m_retry;
    const std::lock_guard lock(m_statusMutex);
    if (!m_status.m_file.isEmpty() || m_status.m_reason.isEmpty())
        ++m_status.m_problems; // a new problem, not a retry that failed again
    m_status.m_file.clear();
    m_status.m_reason = reason;
}

void CJournal::CloseFile() {
    m_feed->End(std::exchange(m_feeding, 0));
    m_indexed.clear();
    if (!m_file.isOpen())
        return;
    m_file.close();
    // A file that never got its first record whole could not rebuild a screen.
    if (!m_begun)
        m_file.remove();
    m_begun = false;
}

void CJournal::SetStatus(const QString& file, const QString& reason) {
    const std::lock_guard lock(m_statusMutex);
    m_status.m_file = file;
    m_status.m_reason = reason;
}
