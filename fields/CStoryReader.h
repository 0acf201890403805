#pragma once

#include "CFieldDefinitions.h"
#include "CFieldSeries.h"
#include "CGameStory.h"

#include <array>
#include <optional>

// The game's story as the fields file's `story` names it, read from the journal. It keeps its
// series, so a growing journal is read again only where it grew.
class CStoryReader {
public:
    // Nullopt when the definitions tell no story.
    static std::optional<CStoryReader> For(const CFieldDefinitions& definitions);

    // Nullopt when a journal file can no longer be read. Not for two threads at once.
    std::optional<CGameStory> Read(const CJournalIndex& index) const;

private:
    enum Part { kHome, kVisitor, kPeriod, kClock, kParts };
    CStoryReader() = default;

    std::array<std::optional<CFieldSeries>, kParts> m_series;
    std::array<QString, 2> m_labels;
};
