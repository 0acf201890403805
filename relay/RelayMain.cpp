#include "CDescriptorLimit.h"
#include "CRelay.h"
#include "CRelayOptions.h"
#include "CStopSignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallyview-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVIEW_VERSION));
    qSetMessagePattern(QStringLiteral("tallyview-relay: %{message}"));

    CRelayOptions options;
    QString out;
    QString problem;
    switch (CRelayOptions::Parse(app.arguments(), out, problem, options)) {
    case CRelayOptions::Outcome::Answered:
        std::fputs(out.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case CRelayOptions::Outcome::Refused:
        qCritical().noquote() << problem;
        return 2;
    case CRelayOptions::Outcome::Run:
        break;
    }

    CDescriptorLimit::Raise();
    CStopSignals stop;
    CRelay relay;
    QObject::connect(&stop, &CStopSignals::Stop, &app, [](int number) {
        qInfo().noquote() << QStringLiteral("Stopping on signal %1.").arg(number);
        QCoreApplication::quit();
    });
    if (!relay.Start(options))
        return 1;
    return app.exec();
}
