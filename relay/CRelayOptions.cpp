#include "CRelayOptions.h"

#include "CSettingsKeys.h"
#include "CShareConfig.h"
#include "CTerminalPort.h"

#include <QCommandLineParser>

namespace {

struct Option {
    const char* m_name;
    const char* m_value; // nullptr: a switch
    const char* m_help;
};
constexpr Option kOptions[] = {
    {"settings", "FILE",
     "Read the settings from FILE (the window's Tallyview.cfg format); the "
     "relay never writes it."},
    {"device", "DEVICE",
     "The line: a serial device, tcp://HOST:PORT, rfc2217://HOST:PORT, "
     "listen://[ADDRESS]:PORT or mqtt://HOST:PORT[,HOST:PORT...]/TOPIC."},
    {"baud", "RATE", "The serial line's baud rate."},
    {"journal", "FOLDER", "Keep the journal in FOLDER (default: beside the settings file)."},
    {"no-journal", nullptr, "Keep no journal."},
    {"share", "[all:]PORT",
     "Serve the web view on PORT, to this computer only, or with \"all:\" "
     "to every network."},
    {"share-code", "CODE",
     "The web view's access code (default: the settings', or one made once and kept in the "
     "state folder)."},
    {"publish", "URL",
     "Publish the line to mqtt://[USER[:PASSWORD]@]HOST[:PORT][,HOST:PORT...]/TOPIC "
     "(mqtts:// with TLS; several nodes of a cluster, in the order to try)."},
    {"publish-max-packet", "BYTES",
     "The largest packet the broker takes, for one that does not say so (MQTT 5 brokers do)."},
    {"fields", "FILE", "Read the fields from FILE (default: fields.json beside the settings)."},
    {"fields-folder", "FOLDER", "Keep one NAME.txt per field in FOLDER."},
};

// Options that set a settings key to their value as it is.
struct KeyOption {
    const char* m_option;
    const char* m_key;
};
constexpr KeyOption kKeyOptions[] = {
    {"journal", CSettingsKeys::kJournalFolder},
    {"publish", CSettingsKeys::kPublish},
    {"publish-max-packet", CSettingsKeys::kPublishMaxPacket},
    {"fields", CSettingsKeys::kFieldsFile},
    {"fields-folder", CSettingsKeys::kFieldsFolder},
};

// "[all:]PORT" into the sharing keys.
bool AddShare(const QString& value, QList<QPair<QString, QString>>& keys) {
    const bool all = value.startsWith(QLatin1String("all:"));
    bool ok = false;
    const uint port = (all ? value.mid(4) : value).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return false;
    keys.append({QLatin1String(CSettingsKeys::kShare), QStringLiteral("on")});
    keys.append({QLatin1String(CSettingsKeys::kShareAddress),
                 all ? QStringLiteral("all") : QStringLiteral("local")});
    keys.append({QLatin1String(CSettingsKeys::kSharePort), QString::number(port)});
    return true;
}

QString Read(const QCommandLineParser& parser, CRelayOptions& options) {
    options.m_settings = parser.value(QStringLiteral("settings"));
    options.m_device = parser.value(QStringLiteral("device"));
    if (parser.isSet(QStringLiteral("baud"))) {
        bool ok = false;
        options.m_baud = parser.value(QStringLiteral("baud")).toInt(&ok);
        if (!ok || *options.m_baud <= 0)
            return QStringLiteral("--baud takes a positive whole number");
    }
    if (parser.isSet(QStringLiteral("no-journal")))
        options.m_keys.append({QLatin1String(CSettingsKeys::kJournal), QStringLiteral("off")});
    for (const KeyOption& o : kKeyOptions)
        if (parser.isSet(QLatin1String(o.m_option)))
            options.m_keys.append(
                {QLatin1String(o.m_key), parser.value(QLatin1String(o.m_option))});
    if (parser.isSet(QStringLiteral("share")) &&
        !AddShare(parser.value(QStringLiteral("share")), options.m_keys))
        return QStringLiteral("--share takes a port from 1 to 65535, or all:PORT");
    if (parser.isSet(QStringLiteral("share-code"))) {
        const QString code = parser.value(QStringLiteral("share-code"));
        if (!CShareConfig::IsCode(code))
            return QStringLiteral("--share-code takes a code like the ones the Share dialog "
                                  "makes: %1 lower-case letters and digits")
                .arg(CShareConfig::kCodeLength);
        options.m_keys.append({QLatin1String(CSettingsKeys::kShareCode), code});
    }
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument \"%1\"")
            .arg(parser.positionalArguments().first());
    return {};
}

// Qt's help names the program by the path it was started with; help2man and users want its name.
QString Help(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    return QStringLiteral("Usage: %1 [options]").arg(QCoreApplication::applicationName()) +
           text.mid(text.indexOf(QLatin1Char('\n')));
}

} // namespace

CRelayOptions::Outcome CRelayOptions::Parse(const QStringList& arguments, QString& out,
                                            QString& problem, CRelayOptions& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tallyview's headless relay: reads any line the window reads, and "
        "journals, shares and publishes it exactly as the window does. It logs to standard "
        "error and stops on SIGTERM or SIGINT."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const Option& o : kOptions)
        parser.addOption(
            o.m_value ? QCommandLineOption(QLatin1String(o.m_name), QLatin1String(o.m_help),
                                           QLatin1String(o.m_value))
                      : QCommandLineOption(QLatin1String(o.m_name), QLatin1String(o.m_help)));
    if (!parser.parse(arguments)) {
        problem = parser.errorText();
        return Outcome::Refused;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        out = parser.isSet(help)
                  ? Help(parser)
                  : QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                  QCoreApplication::applicationVersion());
        return Outcome::Answered;
    }
    problem = Read(parser, options);
    return problem.isEmpty() ? Outcome::Run : Outcome::Refused;
}

QString CRelayOptions::ApplyTo(CTerminalPort& port) const {
    CPortSettings settings = port.Settings();
    if (!m_device.isEmpty())
        settings.m_device = m_device;
    if (m_baud)
        settings.m_baud = *m_baud;
    if (const QString problem = settings.Problem(); !problem.isEmpty())
        return problem;
    if (settings.m_device.isEmpty())
        return QStringLiteral("no line: give --device, or --settings with a device");
    port.SetSettings(settings);
    for (const auto& [key, value] : m_keys)
        port.SetOption(key, value);
    return {};
}
