#include "CStoryView.h"

#include "CPainterCanvas.h"

#include <QMouseEvent>
#include <QPainter>

CStoryView::CStoryView(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(200);
    setCursor(Qt::PointingHandCursor);
}

void CStoryView::SetDefinitions(const CFieldDefinitions& definitions) {
    if (definitions == m_definitions)
        return;
    m_definitions = definitions;
    m_reader = CStoryReader::For(m_definitions);
    m_chart.reset();
    update();
}

void CStoryView::Update(const CJournalIndex& index) {
    std::optional<CGameStory> story = m_reader ? m_reader->Read(index) : std::nullopt;
    if (story)
        m_chart.emplace(std::move(*story));
    else
        m_chart.reset();
    update();
}

void CStoryView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_chart) {
        CPainterCanvas canvas(painter);
        m_chart->Draw(canvas, rect());
        return;
    }
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("No story: the fields file names no \"story\" with two score "
                                    "fields, or the journal does not show them."));
}

void CStoryView::mousePressEvent(QMouseEvent* event) {
    if (!m_chart || event->button() != Qt::LeftButton)
        return;
    if (const auto moment = m_chart->MomentAt(rect(), event->position()))
        emit MomentChosen(moment->m_record);
}
