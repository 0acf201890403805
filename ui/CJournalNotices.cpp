#include "CJournalNotices.h"

#include "CJournal.h"
#include "CStation.h"
#include "CTerminalPort.h"

#include <QMessageBox>
#include <QWidget>

CJournalNotices::CJournalNotices(QWidget* window, const CStation& station)
    : QObject(window), m_window(window), m_station(station), m_title(window->windowTitle()) {
    if (m_station.RestoredFrom().isValid() && m_station.Port().ReceivedTotal() == 0) {
        m_restored = true;
        m_window->setWindowTitle(m_title + QStringLiteral(" - restored from ") +
                                 m_station.RestoredFrom().toString(QStringLiteral("HH:mm:ss")));
    }
    connect(&m_timer, &QTimer::timeout, this, &CJournalNotices::Check);
    m_timer.start(kCheckMs);
}

void CJournalNotices::Check() {
    if (m_restored && m_station.Port().ReceivedTotal() > 0) {
        m_restored = false;
        m_window->setWindowTitle(m_title);
    }
    const CJournal* journal = m_station.Journal();
    if (!journal)
        return;
    const CJournal::Status status = journal->CurrentStatus();
    if (status.m_problems <= m_problemsShown)
        return;
    // Counted before the box opens: the timer keeps firing under it.
    m_problemsShown = status.m_problems;
    QMessageBox::warning(m_window, QStringLiteral("Tallyview"),
                         QStringLiteral("The journal stopped: %1.\n\nThe live screen is not "
                                        "affected. The journal starts again in a new file as "
                                        "soon as it can be written.")
                             .arg(status.m_reason));
}
