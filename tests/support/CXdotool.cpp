#include "CXdotool.h"

#include <QProcess>
#include <QTest>
#include <QWidget>

bool CXdotool::Run(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000) &&
           process.exitCode() == 0;
}

QString CXdotool::WindowId(const QWidget& window) {
    return QString::number(window.winId());
}

bool CXdotool::Available() {
    return qgetenv("QT_QPA_PLATFORM") != "offscreen" && qEnvironmentVariableIsSet("DISPLAY");
}
