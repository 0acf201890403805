#include "CRelayProcess.h"

#include "PortTestSupport.h"

#include <csignal>

CRelayProcess::CRelayProcess(const QString& program, const QStringList& arguments,
                             const QString& workingDirectory,
                             const QProcessEnvironment& environment) {
    m_process.setWorkingDirectory(workingDirectory);
    m_process.setProcessEnvironment(environment);
    m_process.start(program, arguments);
}

CRelayProcess::~CRelayProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished(10000);
}

bool CRelayProcess::Logged(const QByteArray& text) {
    return WaitUntil(
               [&] {
                   m_log += m_process.readAllStandardError();
                   return m_log.contains(text) || m_process.state() == QProcess::NotRunning;
               },
               20000) &&
           m_log.contains(text);
}

int CRelayProcess::Stop(int signal) {
    ::kill(static_cast<pid_t>(m_process.processId()), signal);
    if (!m_process.waitForFinished(20000) || m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    m_log += m_process.readAllStandardError();
    return m_process.exitCode();
}
