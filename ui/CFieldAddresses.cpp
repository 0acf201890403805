#include "CFieldAddresses.h"

#include "CFieldsFeed.h"
#include "CSettingsKeys.h"
#include "CShareConfig.h"
#include "CShareServer.h"
#include "CStation.h"
#include "CTerminalPort.h"

#include <QDir>
#include <QUrl>

CFieldAddresses::CFieldAddresses(CStation& station, QWidget* parent)
    : QPlainTextEdit(parent), m_station(station) {
    setObjectName(QStringLiteral("addresses"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    constexpr int kLines = 8;
    setMaximumHeight(fontMetrics().height() * kLines);
    connect(&m_tick, &QTimer::timeout, this, &CFieldAddresses::ShowNow);
}

void CFieldAddresses::showEvent(QShowEvent* event) {
    QPlainTextEdit::showEvent(event);
    ShowNow();
    m_tick.start(kTickMs);
}

void CFieldAddresses::hideEvent(QHideEvent* event) {
    QPlainTextEdit::hideEvent(event);
    m_tick.stop();
}

// The web view's own address, with the path of each output in place of its page's.
QStringList CFieldAddresses::Served() const {
    const CShareServer& server = m_station.Share();
    if (!server.IsServing())
        return {QStringLiteral("Not sharing: switch sharing on in the Share window to serve the "
                               "fields.")};
    const QUrl page(CShareConfig::Load(m_station.Port()).Url(server.ServingPort()));
    const auto at = [&](const QString& path) {
        QUrl url(page);
        url.setPath(path);
        return url.toString();
    };
    QStringList lines{at(QStringLiteral("/fields.json")), at(QStringLiteral("/fields.xml")),
                      at(QStringLiteral("/fields.csv")), at(QStringLiteral("/fields/events"))};
    for (const CFieldDefinitions::Table& table : m_station.Fields().Definitions().m_tables)
        for (const char* type : {"json", "xml", "csv"})
            lines << at(QStringLiteral("/tables/%1.%2").arg(table.m_name, QLatin1String(type)));
    return lines;
}

void CFieldAddresses::ShowNow() {
    const QString folder =
        m_station.Port().Option(QLatin1String(CSettingsKeys::kFieldsFolder)).trimmed();
    const QString text =
        (Served() << (folder.isEmpty()
                          ? QStringLiteral(
                                "No text files (\"Folder...\" below chooses their folder).")
                          : QDir::toNativeSeparators(folder)))
            .join(QLatin1Char('\n'));
    // Set only on a change, so that text being selected to copy stays selected.
    if (toPlainText() != text)
        setPlainText(text);
}
