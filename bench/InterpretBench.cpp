// How many times each byte of the line is interpreted with the journal and publishing on: the
// sample game through a pseudo-terminal into a port with its journal and its publisher (to a
// mosquitto on loopback), drained as the window drains it, first as the relay runs it, then
// with the window's History window made but hidden, then shown. Prints the bytes that entered a
// screen's interpreter per byte of the line, for each.
//
//     interpret_bench [--rounds N]   (the game played N times in each, default 2)
#include "CBenchMeasure.h"
#include "CHistoryDlg.h"
#include "CJournal.h"
#include "CMosquitto.h"
#include "CMqttPublisher.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <thread>

namespace {

std::string Game() {
    QFile file(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no sample game");
    return file.readAll().toStdString();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Games played in each."),
                      QStringLiteral("N"), QStringLiteral("2")});
    parser.process(app);
    const int rounds = parser.value(QStringLiteral("rounds")).toInt();

    CMosquitto broker;
    if (!broker.Start())
        qFatal("mosquitto does not start");
    QTemporaryDir dir;
    CRecordingPort port;
    CJournal::Settings settings;
    settings.m_folder = dir.filePath(QStringLiteral("journal"));
    port.AttachListener(std::make_unique<CJournal>(settings, port));
    QString problem;
    port.AttachListener(std::make_unique<CMqttPublisher>(
        CMqttAddress::Parse(broker.Url(QStringLiteral("bench")), problem), port));
    PtyPair pty;
    if (!port.OpenOn(QString::fromStdString(pty.SlavePath())))
        qFatal("the port does not open");
    QTimer drain; // the window's and the viewers' drains
    QObject::connect(&drain, &QTimer::timeout, [&] { port.ProcessReceived(); });
    drain.start(100);

    const std::string game = Game();
    std::size_t sent = 0;
    const auto measure = [&](const char* what) {
        const std::uint64_t before = CTerminalScreen::InterpretedBytes();
        // The statistics computer writes on its own, while the window's events go on.
        std::thread computer([&] {
            for (int round = 0; round < rounds; ++round)
                pty.Write(game);
        });
        sent += game.size() * std::size_t(rounds);
        CBenchMeasure::Wait(120000, [&] { return port.Seen().size() >= sent; });
        computer.join();
        port.FindListener<CJournal>()->WaitWritten();
        port.FindListener<CMqttPublisher>()->WaitFollowed();
        CBenchMeasure::Wait(2500); // History's follow ticks, the window's drain
        port.ProcessReceived();
        const double per = double(CTerminalScreen::InterpretedBytes() - before) /
                           double(game.size() * std::size_t(rounds));
        std::printf("%-40s %.2f interpretations per line byte\n", what, per);
    };
    measure("relay (journal, publisher)");
    CHistoryDlg history(settings.m_folder, dir.filePath(QStringLiteral("Tallyview.cfg")), nullptr);
    CBenchMeasure::Wait(60000, [&] { return history.Indexed(); });
    measure("window, History hidden");
    const std::uint64_t beforeOpen = CTerminalScreen::InterpretedBytes();
    history.Open();
    CBenchMeasure::Wait(1500);
    std::printf("%-40s %.2f MB read back on opening\n", "",
                double(CTerminalScreen::InterpretedBytes() - beforeOpen) / 1e6);
    measure("window, History shown");
    return 0;
}
