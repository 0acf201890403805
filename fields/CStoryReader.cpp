#include "CStoryReader.h"

std::optional<CStoryReader> CStoryReader::For(const CFieldDefinitions& definitions) {
    if (!definitions.m_story)
        return std::nullopt;
    const CFieldDefinitions::Story& story = *definitions.m_story;
    CStoryReader reader;
    const QString names[kParts] = {story.m_home, story.m_visitor, story.m_period, story.m_clock};
    for (int part = 0; part < kParts; ++part) {
        QString problem;
        if (!names[part].isEmpty())
            reader.m_series[part] = CFieldSeries::Of(definitions, names[part], &problem);
    }
    if (!reader.m_series[kHome] || !reader.m_series[kVisitor])
        return std::nullopt;
    reader.m_labels = {story.m_homeLabel.isEmpty() ? reader.m_series[kHome]->Field().Label()
                                                   : story.m_homeLabel,
                       story.m_visitorLabel.isEmpty() ? reader.m_series[kVisitor]->Field().Label()
                                                      : story.m_visitorLabel};
    return reader;
}

std::optional<CGameStory> CStoryReader::Read(const CJournalIndex& index) const {
    std::array<std::vector<CFieldSeries::Point>, kParts> points;
    for (int part = 0; part < kParts; ++part) {
        if (!m_series[part])
            continue;
        std::optional<std::vector<CFieldSeries::Point>> read = m_series[part]->Points(index);
        if (!read)
            return std::nullopt;
        points[part] = std::move(*read);
    }
    CGameStory story =
        CGameStory::Of(points[kHome], points[kVisitor], points[kPeriod], points[kClock],
                       index.LastTime().value_or(CGameStory::Time{}));
    story.m_labels = m_labels;
    return story;
}
