#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (Ctrl+C, Ctrl+Break and the console closing on Windows) into a
// Stop signal on the event loop, where it is safe to shut down.
class CStopSignals : public QObject {
    Q_OBJECT
public:
    explicit CStopSignals(QObject* parent = nullptr);
    ~CStopSignals() override;

signals:
    void Stop(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};
