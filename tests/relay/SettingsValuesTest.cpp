// Values of the settings file out of their keys' rules: each is said once, naming the key, the
// value and what is used instead, in the window's message box and in the relay's log alike.
#include "CModalAnswerer.h"
#include "CStation.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct BadValue {
    const char* m_key;
    const char* m_value;
    const char* m_used; // nullptr: a new access code
};

void PrintTo(const BadValue& c, std::ostream* out) {
    *out << c.m_key << '=' << c.m_value;
}

QString WriteSettings(const QTemporaryDir& dir, const QString& device, const BadValue& c) {
    const QString path = dir.filePath(QStringLiteral("Tallyview.cfg"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("Tallyview port settings 1\ndevice=%1\nbaud=115200\ndatabits=8\n"
                              "parity=none\nstopbits=1\nflow=none\n%2=%3\n")
                   .arg(device, QLatin1String(c.m_key), QLatin1String(c.m_value))
                   .toUtf8());
    return path;
}

// The message, the new code standing for any ten of the code's characters.
QRegularExpression Expected(const BadValue& c, const QString& path) {
    const QString used = c.m_used
                             ? QRegularExpression::escape(QStringLiteral("\"%1\"").arg(c.m_used))
                             : QStringLiteral("the new one \"[a-z2-9]{10}\"");
    return QRegularExpression(
        QRegularExpression::escape(
            QStringLiteral("The setting %1 \"%2\" in %3 is ").arg(c.m_key, c.m_value, path)) +
        QStringLiteral("not [^:\n]+: %1 is used instead\\.").arg(used));
}

class SettingsValue : public ::testing::TestWithParam<BadValue> {};

TEST_P(SettingsValue, OutOfItsRuleIsSaidOnceWithWhatIsUsedInstead) {
    const BadValue& c = GetParam();
    QTemporaryDir dir;
    PtyPair pty;
    const QString path = WriteSettings(dir, QString::fromStdString(pty.SlavePath()), c);
    const QRegularExpression expected = Expected(c, path);

    QProcess relay;
    relay.start(QStringLiteral(TALLYVIEW_RELAY),
                {QStringLiteral("--settings"), path, QStringLiteral("--device"),
                 QStringLiteral("tcp://127.0.0.1:1")});
    ASSERT_TRUE(relay.waitForFinished(20000));
    const QString log = QString::fromLocal8Bit(relay.readAllStandardError());
    EXPECT_EQ(log.count(expected), 1) << log.toStdString();

    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    CStation station(path);
    station.Load();
    ASSERT_EQ(answerer.Messages().size(), 1) << answerer.Texts().join(u'\n').toStdString();
    const QString shown = answerer.Messages().front().m_text;
    EXPECT_TRUE(expected.match(shown).hasMatch()) << shown.toStdString();
    const QString held = station.Port().Option(QLatin1String(c.m_key));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\"%1\" is used instead.").arg(held)))
        << held.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsValue,
    ::testing::Values(
        BadValue{"share_port", "0", "8132"}, BadValue{"share_port", "-1", "8132"},
        BadValue{"share_port", "99999", "8132"}, BadValue{"share_port", "abc", "8132"},
        BadValue{"share_port", "8200x", "8132"}, BadValue{"share_viewers", "0", "500"},
        BadValue{"share_viewers", "-5", "500"}, BadValue{"share_viewers", "99999999999", "500"},
        BadValue{"journal_days", "-1", "30"}, BadValue{"journal_max_mb", "0", "2048"},
        BadValue{"restore_hours", "abc", "12"}, BadValue{"journal", "yes", "on"},
        BadValue{"share", "ON", "off"}, BadValue{"share_address", "any", "local"},
        BadValue{"textsize", "big", "100"}, BadValue{"share_code", "letmein2024", nullptr},
        BadValue{"share_code", "ABCDEFGH23", nullptr}));

// The relay's own words for a file it cannot use: its option, not the window's button.
TEST(SettingsValue, AnUnusableFileIsSaidInTheRelaysWords) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tallyview.cfg"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("not settings\n");
    file.close();
    QProcess relay;
    relay.start(QStringLiteral(TALLYVIEW_RELAY), {QStringLiteral("--settings"), path});
    ASSERT_TRUE(relay.waitForFinished(20000));
    const QString log = QString::fromLocal8Bit(relay.readAllStandardError());
    EXPECT_EQ(relay.exitCode(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("name another with --settings"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Config Port"))) << log.toStdString();
}

} // namespace
