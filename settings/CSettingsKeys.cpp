#include "CSettingsKeys.h"

#include <QRandomGenerator>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace {

using Rule = CSettingsKeys::Rule;

constexpr CSettingsKeys::Key kKeys[] = {
    {CSettingsKeys::kJournal, "on", Rule::Switch, "keep the journal of the line"},
    {CSettingsKeys::kJournalFolder, "", Rule::Text,
     "the journal's folder (default: `journal` beside the settings file)"},
    {CSettingsKeys::kJournalDays, "30", Rule::Count, "days of journal kept"},
    {CSettingsKeys::kJournalMaxMb, "2048", Rule::Count, "megabytes of journal kept"},
    {CSettingsKeys::kRestoreHours, "12", Rule::Count,
     "the newest journal file restores the screen at start when it ended less long ago"},
    {CSettingsKeys::kShare, "off", Rule::Switch, "share the screen with browsers"},
    {CSettingsKeys::kShareAddress, "local", Rule::Reach,
     "`local` for this computer only, `all` for every network"},
    {CSettingsKeys::kSharePort, "8132", Rule::Port, "the web view's port"},
    {CSettingsKeys::kShareCode, "", Rule::Code, "the web view's access code (made when absent)"},
    {CSettingsKeys::kShareCertificate, "", Rule::Text, "PEM certificate for HTTPS"},
    {CSettingsKeys::kShareKey, "", Rule::Text, "PEM key of that certificate"},
    {CSettingsKeys::kShareViewers, "500", Rule::Count, "the most viewers at once"},
    {CSettingsKeys::kPublish, "off", Rule::Text,
     "`mqtt://[USER[:PASSWORD]@]HOST:PORT[,HOST:PORT...]/TOPIC` (or `mqtts://`) to publish "
     "the line to"},
    {CSettingsKeys::kPublishMaxPacket, "", Rule::Count,
     "the largest MQTT packet, in bytes, the broker takes, for one that does not say so"},
    {CSettingsKeys::kFieldsFile, "", Rule::Text,
     "the fields file (default: `fields.json` beside the settings file)"},
    {CSettingsKeys::kFieldsFolder, "", Rule::Text,
     "a folder to keep one `NAME.txt` per field in (default: none)"},
    {CSettingsKeys::kTextSize, "100", Rule::Count, "the main window's text size, in percent"},
    {CSettingsKeys::kLook, "classic", Rule::Text, "the windows' look"},
    {CSettingsKeys::kWindow, "", Rule::Text, "the main window's place and size"},
    {CSettingsKeys::kMaximised, "0", Rule::Text, "`1` when the main window was maximised"},
};

bool IsOneOf(const QString& value, const char* first, const char* second) {
    return value == QLatin1String(first) || value == QLatin1String(second);
}

} // namespace

std::span<const CSettingsKeys::Key> CSettingsKeys::All() {
    return kKeys;
}

const CSettingsKeys::Key& CSettingsKeys::Find(const char* name) {
    const auto found = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const Key& key) {
        return std::strcmp(key.m_name, name) == 0;
    });
    if (found == std::end(kKeys))
        throw std::logic_error(std::string("not a settings key: ") + name);
    return *found;
}

QString CSettingsKeys::Problem(const Key& key, const QString& value) {
    bool ok = false;
    switch (key.m_rule) {
    case Rule::Switch:
        return IsOneOf(value, "on", "off") ? QString() : QStringLiteral("not \"on\" or \"off\"");
    case Rule::Reach:
        return IsOneOf(value, "local", "all") ? QString()
                                              : QStringLiteral("not \"local\" or \"all\"");
    case Rule::Count:
        return value.toInt(&ok) > 0 && ok
                   ? QString()
                   : QStringLiteral("not a whole number from 1 to %1").arg(INT_MAX);
    case Rule::Port: {
        const int port = value.toInt(&ok);
        return ok && port >= 1 && port <= 65535 ? QString()
                                                : QStringLiteral("not a port from 1 to 65535");
    }
    case Rule::Code: {
        const QString alphabet = QLatin1String(kCodeAlphabet);
        const bool valid = value.size() == kCodeLength &&
                           std::all_of(value.begin(), value.end(),
                                       [&](QChar ch) { return alphabet.contains(ch); });
        return valid
                   ? QString()
                   : QStringLiteral("not %1 of the letters and digits of a code").arg(kCodeLength);
    }
    case Rule::Text:
        break;
    }
    return {};
}

int CSettingsKeys::Number(const char* name, const QString& value) {
    const Key& key = Find(name);
    return (value.isEmpty() || !Problem(key, value).isEmpty() ? QString::fromLatin1(key.m_default)
                                                              : value)
        .toInt();
}

QString CSettingsKeys::Replacement(const Key& key) {
    return key.m_rule == Rule::Code ? NewCode() : QString::fromLatin1(key.m_default);
}

QString CSettingsKeys::NewCode() {
    const QString alphabet = QLatin1String(kCodeAlphabet);
    QString code;
    for (int i = 0; i < kCodeLength; ++i)
        code += alphabet[QRandomGenerator::system()->bounded(alphabet.size())];
    return code;
}
