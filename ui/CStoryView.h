#pragma once

#include "CFieldDefinitions.h"
#include "CJournalIndex.h"
#include "CStoryChart.h"
#include "CStoryReader.h"

#include <QWidget>
#include <optional>

// History's "Story" view: the game-flow chart of the day's journal as the fields file's story
// tells it. A click on a score or a lead change chooses that moment.
class CStoryView : public QWidget {
    Q_OBJECT
public:
    explicit CStoryView(QWidget* parent);

    void SetDefinitions(const CFieldDefinitions& definitions);
    // Reads what the journal gained (only that) and draws the story again.
    void Update(const CJournalIndex& index);
    const std::optional<CStoryChart>& Chart() const { return m_chart; }

signals:
    void MomentChosen(std::uint64_t record);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CFieldDefinitions m_definitions;
    std::optional<CStoryReader> m_reader;
    std::optional<CStoryChart> m_chart;
};
