#include "CStoryRoutes.h"

#include "CHttpRequest.h"
#include "CJournalIndex.h"
#include "CStoryChart.h"

#include <QDateTime>
#include <QTime>

namespace {

const QByteArray kSeriesPrefix = "/series/";

CStoryRoutes::Answer NotFound() {
    return {404, {"not found\n", "text/plain; charset=utf-8"}};
}

} // namespace

CStoryRoutes::CStoryRoutes() = default;
CStoryRoutes::~CStoryRoutes() = default;

void CStoryRoutes::SetJournalFolder(const QString& folder) {
    if (folder == m_folder)
        return;
    m_folder = folder;
    m_index.reset();
    m_series.clear();
    m_story.reset();
}

// The newest day's index, read up to now; a new day starts a new one.
const CJournalIndex* CStoryRoutes::Index() {
    if (m_folder.isEmpty())
        return nullptr;
    const std::filesystem::path folder = m_folder.toStdString();
    const std::string day = CJournalIndex::NewestDay(folder);
    if (day.empty())
        return nullptr;
    if (!m_index || day != m_day) {
        m_day = day;
        m_index = std::make_unique<CJournalIndex>(folder, day + "_");
        m_series.clear();
        m_story = CStoryReader::For(m_definitions);
    }
    m_index->Update();
    return m_index.get();
}

// Series read for other definitions are no longer those asked for.
void CStoryRoutes::Use(const CFieldDefinitions& definitions) {
    if (definitions == m_definitions)
        return;
    m_definitions = definitions;
    m_series.clear();
    m_story = CStoryReader::For(m_definitions);
}

std::optional<CStoryRoutes::Answer> CStoryRoutes::Find(const CHttpRequest& request,
                                                       const CFieldDefinitions& definitions) {
    const QByteArray& path = request.Path();
    const bool story = path == "/story.json" || path == "/story.svg";
    if (!story && !path.startsWith(kSeriesPrefix))
        return std::nullopt;
    Use(definitions);
    if (story) {
        // Fields that tell no story leave the journal unread, however often the page asks.
        const CJournalIndex* index = m_story ? Index() : nullptr;
        const std::optional<CGameStory> told = index ? m_story->Read(*index) : std::nullopt;
        if (!told)
            return NotFound();
        if (path == "/story.json")
            return Answer{200, {told->ToJson(), "application/json; charset=utf-8"}};
        return Answer{200, {CStoryChart(*told).Svg(), "image/svg+xml"}};
    }
    const QByteArray file = path.mid(kSeriesPrefix.size());
    const bool csv = file.endsWith(".csv");
    if (!csv && !file.endsWith(".json"))
        return NotFound();
    return Series(request, QString::fromUtf8(file.left(file.lastIndexOf('.'))), csv);
}

CStoryRoutes::Answer CStoryRoutes::Series(const CHttpRequest& request, const QString& name,
                                          bool csv) {
    auto found = m_series.find(name);
    if (found == m_series.end()) {
        QString problem;
        std::optional<CFieldSeries> series = CFieldSeries::Of(m_definitions, name, &problem);
        if (!series)
            return NotFound();
        found = m_series.emplace(name, std::move(*series)).first;
    }
    std::optional<std::vector<CFieldSeries::Point>> points;
    if (const CJournalIndex* index = Index())
        points = found->second.Points(*index, TimeOf(request, "from"), TimeOf(request, "to"));
    const std::vector<CFieldSeries::Point> none;
    const std::vector<CFieldSeries::Point>& shown = points ? *points : none;
    if (csv)
        return {200, {CFieldSeries::Csv(shown), "text/csv; charset=utf-8"}};
    return {200, {CFieldSeries::Json(shown), "application/json; charset=utf-8"}};
}

// HH:MM:SS on the local clock of the journal's day.
std::optional<CFieldSeries::Time> CStoryRoutes::TimeOf(const CHttpRequest& request,
                                                       const char* key) const {
    const QTime time =
        QTime::fromString(request.QueryItem(QString::fromLatin1(key)), QStringLiteral("HH:mm:ss"));
    const QDate day = QDate::fromString(QString::fromStdString(m_day), Qt::ISODate);
    if (!time.isValid() || !day.isValid())
        return std::nullopt;
    return CFieldSeries::Time(std::chrono::milliseconds(QDateTime(day, time).toMSecsSinceEpoch()));
}
