#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class CStation;
class QWidget;

// What the operator must know about the journal, on the main window: the title says the screen
// was restored, and from when, until the first byte arrives from the line; each time the
// journal stops, one message box says why.
class CJournalNotices : public QObject {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 500;

    CJournalNotices(QWidget* window, const CStation& station);

private:
    void Check();

    QWidget* m_window;
    const CStation& m_station;
    QString m_title; // the window's own title
    bool m_restored = false;
    quint64 m_problemsShown = 0;
    QTimer m_timer;
};
