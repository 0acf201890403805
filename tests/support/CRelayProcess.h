#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A relay (or any program logging to standard error) as a real process; its log is collected
// as it comes.
class CRelayProcess {
public:
    CRelayProcess(
        const QString& program, const QStringList& arguments, const QString& workingDirectory = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    // Ends it with SIGTERM if it still runs.
    ~CRelayProcess();
    CRelayProcess(const CRelayProcess&) = delete;
    CRelayProcess& operator=(const CRelayProcess&) = delete;

    // Waits until the log holds text, or the process ended.
    bool Logged(const QByteArray& text);
    // Sends the signal and returns the exit code of a normal exit, -1 otherwise.
    int Stop(int signal);
    QProcess& Process() { return m_process; }
    const QByteArray& Log() const { return m_log; }

private:
    QProcess m_process;
    QByteArray m_log;
};
