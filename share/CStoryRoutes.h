#pragma once

#include "CFieldDefinitions.h"
#include "CFieldSeries.h"
#include "CFieldsFormats.h"
#include "CStoryReader.h"

#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>

class CHttpRequest;
class CJournalIndex;

// The story of the day read from the journal folder the station writes, for the web view:
//   /series/NAME.csv, /series/NAME.json  a field (or TABLE.ROW.COLUMN) over time, with
//                                        from=HH:MM:SS and to=HH:MM:SS (local, today)
//   /story.json, /story.svg              the game-flow numbers and chart (CGameStory,
//                                        CStoryChart)
// Each request first reads what the journal gained, so a live game's story is as new as the
// journal (a fraction of a second behind the line); what was read before is kept.
class CStoryRoutes {
public:
    CStoryRoutes();
    ~CStoryRoutes();

    void SetJournalFolder(const QString& folder);
    // The answer to a request for one of the paths above; nullopt for any other path.
    // m_status is 404 for a name the fields lack or a story they do not tell.
    struct Answer {
        int m_status = 200;
        CFieldsFormats::File m_file;
    };
    std::optional<Answer> Find(const CHttpRequest& request, const CFieldDefinitions& definitions);

private:
    const CJournalIndex* Index();
    void Use(const CFieldDefinitions& definitions);
    Answer Series(const CHttpRequest& request, const QString& name, bool csv);
    std::optional<CFieldSeries::Time> TimeOf(const CHttpRequest& request, const char* key) const;

    QString m_folder;
    std::string m_day;
    std::unique_ptr<CJournalIndex> m_index;
    CFieldDefinitions m_definitions;
    std::map<QString, CFieldSeries> m_series;
    std::optional<CStoryReader> m_story;
};
