#include "CShareScreen.h"

#include "CDisplayChars.h"
#include "CScreenText.h"
#include "CTerminalScreen.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString Shown(std::string_view bytes) {
    return QString::fromStdU16String(CDisplayChars::Text(CScreenText::UpToNul(bytes)));
}

} // namespace

CShareScreen CShareScreen::Of(const CTerminalScreen& screen) {
    CShareScreen shown;
    const std::vector<std::string>& rows = screen.Rows();
    const std::size_t count = CScreenText::ShownRowCount(rows);
    shown.m_rows.reserve(static_cast<qsizetype>(count));
    for (std::size_t i = 0; i < count; ++i)
        shown.m_rows.append(Shown(rows[i]));
    shown.m_status = Shown(screen.StatusText());
    shown.m_label = Shown(screen.LabelText());
    shown.m_cursor = QString::fromStdString(CScreenText::CursorText(screen.Row(), screen.Col()));
    return shown;
}

QString CShareScreen::UpdateFrom(const CShareScreen* previous) const {
    QJsonObject rows;
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (!previous || i >= previous->m_rows.size() || previous->m_rows[i] != m_rows[i])
            rows.insert(QString::number(i), m_rows[i]);
    const QJsonObject update{{QStringLiteral("n"), m_rows.size()},
                             {QStringLiteral("rows"), rows},
                             {QStringLiteral("status"), m_status},
                             {QStringLiteral("label"), m_label},
                             {QStringLiteral("cursor"), m_cursor}};
    return QString::fromUtf8(QJsonDocument(update).toJson(QJsonDocument::Compact));
}
