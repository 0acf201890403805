// The settings file at start-up, at "Config Port" and at close, against real files and real
// pseudo-terminals.
#include "CModalAnswerer.h"
#include "CTempCwd.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint kNobodyId = 65534;

const QByteArray kValid = "Tallyview port settings 1\n"
                          "device=@PTY@\n"
                          "baud=115200\n"
                          "databits=8\n"
                          "parity=none\n"
                          "stopbits=1\n"
                          "flow=none\n";

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(contents), contents.size());
}

struct StartUpCase {
    const char* m_name;
    std::optional<QByteArray> m_file; // "@PTY@" stands for the device the test provides
    bool m_opens = false;
    QString m_message = {}; // part of the one message expected; empty: no message
    // For the unprivileged user the start-up runs as.
    QFileDevice::Permissions m_mode = QFileDevice::Permissions(0x6666);
};

void PrintTo(const StartUpCase& c, std::ostream* out) {
    *out << c.m_name;
}

class SettingsStartUp : public ::testing::TestWithParam<StartUpCase> {};

TEST_P(SettingsStartUp, OpensReportsOrStaysQuietAndLeavesTheFile) {
    const StartUpCase& c = GetParam();
    CTempCwd cwd;
    PtyPair pty;
    // Reachable for the unprivileged user the start-up runs as; so is the device, whose
    // reader thread inherits that user.
    QFile::setPermissions(cwd.Path(), QFileDevice::Permissions(0x7755));
    QFile::setPermissions(QString::fromStdString(pty.SlavePath()),
                          QFileDevice::Permissions(0x6666));
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    QByteArray contents;
    if (c.m_file) {
        contents = QByteArray(*c.m_file)
                       .replace("@PTY@", QByteArray::fromStdString(pty.SlavePath()))
                       .replace("@DIR@", cwd.Path().toUtf8());
        WriteFile(path, contents);
        QFile::setPermissions(path, c.m_mode);
    }

    CTerminalPort port;
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    {
        CUnprivilegedFiles unprivileged;
        port.LoadSettings();
    }

    EXPECT_EQ(port.IsOpen(), c.m_opens) << port.LastError().toStdString();
    if (c.m_message.isEmpty()) {
        EXPECT_TRUE(answerer.Messages().isEmpty());
    } else {
        ASSERT_EQ(answerer.Messages().size(), 1);
        const CModalAnswerer::Message& shown = answerer.Messages().front();
        EXPECT_EQ(shown.m_caption, QStringLiteral("Tallyview"));
        EXPECT_TRUE(
            shown.m_text.contains(QString(c.m_message).replace(QLatin1String("@FILE@"), path)))
            << shown.m_text.toStdString();
    }
    EXPECT_EQ(ReadAll(path), c.m_file ? contents : QByteArray("<missing>"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsStartUp,
    ::testing::Values(
        StartUpCase{"NoFile", std::nullopt}, StartUpCase{"Valid", kValid, true},
        StartUpCase{"UnknownKeysAndComments", kValid + "# operator's note\ncolour=blue\n", true},
        StartUpCase{"ReadOnly", kValid, true, {}, QFileDevice::Permissions(0x4444)},
        StartUpCase{"Unreadable", kValid, false,
                    QStringLiteral("cannot be used: it cannot be read"),
                    QFileDevice::Permissions()},
        StartUpCase{"ByteOrderMarkAndCrLf",
                    "\xEF\xBB\xBF" + QByteArray(kValid).replace("\n", "\r\n"), true},
        StartUpCase{"CarriageReturnsOnly", QByteArray(kValid).replace('\n', '\r'), true},
        StartUpCase{"DeviceWithNul", QByteArray(kValid).replace("@PTY@", QByteArray("@PTY@\0x", 8)),
                    false, QStringLiteral("the device path contains a NUL character")},
        StartUpCase{"Garbage",
                    QByteArray("\x7f"
                               "ELF\x02\x01\x01\0\0\0\xff\xfe",
                               13),
                    false, QStringLiteral("@FILE@ cannot be used: its first line")},
        StartUpCase{"Empty", QByteArray(), false,
                    QStringLiteral("@FILE@ cannot be used: its first line")},
        StartUpCase{"CutOffInALine", kValid.left(42), false,
                    QStringLiteral("line 3 is not of the form key=value")},
        StartUpCase{"CutOffBetweenLines", kValid.left(kValid.indexOf("databits")), false,
                    QStringLiteral("\"databits\" is missing")},
        StartUpCase{"DataBitsOutOfRange", QByteArray(kValid).replace("databits=8", "databits=9"),
                    false, QStringLiteral("\"9\" is not a valid databits setting")},
        StartUpCase{"BaudNotANumber", QByteArray(kValid).replace("baud=115200", "baud=fast"), false,
                    QStringLiteral("baud rate \"fast\"")},
        StartUpCase{"NegativeBaud", QByteArray(kValid).replace("baud=115200", "baud=-9600"), false,
                    QStringLiteral("baud rate \"-9600\"")},
        StartUpCase{"NewerFormat", QByteArray(kValid).replace("settings 1", "settings 2"), false,
                    QStringLiteral("format version 2")},
        StartUpCase{"DeviceAway", QByteArray(kValid).replace("@PTY@", "@DIR@/ttyUSB7"), false,
                    QStringLiteral("Unable to OPEN the port previously configured!")}),
    [](const auto& info) { return std::string(info.param.m_name); });

// Whatever the path names instead of a regular file is reported, and start-up goes on.
struct NotAFileCase {
    const char* m_name;
    std::function<bool(const QString& path)> m_make;
    QString m_words;
};

void PrintTo(const NotAFileCase& c, std::ostream* out) {
    *out << c.m_name;
}

class SettingsNotAFile : public ::testing::TestWithParam<NotAFileCase> {};

TEST_P(SettingsNotAFile, IsReportedByWhatItIsAndThePortStaysClosed) {
    CTempCwd cwd;
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    ASSERT_TRUE(GetParam().m_make(path));
    CTerminalPort port;
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    port.LoadSettings();
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(answerer.Messages().size(), 1);
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(
        path + QStringLiteral(" cannot be used: ") + GetParam().m_words))
        << answerer.Messages().front().m_text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SettingsNotAFile,
    ::testing::Values(NotAFileCase{"Fifo",
                                   [](const QString& path) {
                                       return mkfifo(QFile::encodeName(path).constData(), 0666) ==
                                              0;
                                   },
                                   QStringLiteral("it is a named pipe (FIFO)")},
                      NotAFileCase{"Folder", [](const QString& path) { return QDir().mkdir(path); },
                                   QStringLiteral("it is a folder")},
                      NotAFileCase{"Device",
                                   [](const QString& path) {
                                       return QFile::link(QStringLiteral("/dev/null"), path);
                                   },
                                   QStringLiteral("it is a device")},
                      NotAFileCase{"DanglingLink",
                                   [](const QString& path) {
                                       return QFile::link(path + QStringLiteral(".gone"), path);
                                   },
                                   QStringLiteral("it is a symbolic link to ")},
                      NotAFileCase{"LinkLoop",
                                   [](const QString& path) { return QFile::link(path, path); },
                                   QStringLiteral("it is a loop of symbolic links")}),
    [](const auto& info) { return std::string(info.param.m_name); });

CPortSettings SettingsOn(const std::string& device) {
    CPortSettings settings;
    settings.m_device = QString::fromStdString(device);
    settings.m_baud = 57600;
    settings.m_flow = QSerialPort::SoftwareControl;
    return settings;
}

void OpenWith(CTerminalPort& port, const CPortSettings& settings) {
    port.SetSettings(settings);
    port.SetProtocol(CTerminalPort::kTerminalProtocol);
    ASSERT_TRUE(port.Open()) << port.LastError().toStdString();
}

TEST(SettingsSave, WhileClosedNeitherCreatesNorChangesTheFile) {
    CTempCwd cwd;
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    CTerminalPort port;
    EXPECT_TRUE(port.SaveSettings());
    EXPECT_FALSE(QFile::exists(path));

    WriteFile(path, "left alone");
    port.SetSettings(SettingsOn("/dev/ttyS1"));
    EXPECT_TRUE(port.SaveSettings());
    EXPECT_EQ(ReadAll(path), "left alone");
}

TEST(SettingsSave, WhileOpenStoresWhatTheNextStartRestores) {
    CTempCwd cwd;
    PtyPair pty;
    const CPortSettings settings = SettingsOn(pty.SlavePath());
    WriteFile(cwd.File(QStringLiteral("Tallyview.cfg")), "an older file");
    {
        CTerminalPort port;
        OpenWith(port, settings);
        EXPECT_TRUE(port.SaveSettings());
    }
    EXPECT_TRUE(ReadAll(cwd.File(QStringLiteral("Tallyview.cfg")))
                    .startsWith("Tallyview port settings 1\ndevice=" +
                                QByteArray::fromStdString(pty.SlavePath()) + "\nbaud=57600\n"));
    CTerminalPort next;
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    next.LoadSettings();
    EXPECT_TRUE(next.IsOpen());
    EXPECT_EQ(next.Settings(), settings);
    EXPECT_TRUE(answerer.Messages().isEmpty());
}

TEST(SettingsSave, KeepsTheProgramsOtherKeysAndTakesNewOnes) {
    CTempCwd cwd;
    PtyPair pty;
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    WriteFile(path,
              QByteArray(kValid).replace("@PTY@", QByteArray::fromStdString(pty.SlavePath())) +
                  "colour=blue\n");
    {
        CTerminalPort port;
        CModalAnswerer answerer({}, CModalAnswerer::Ok);
        port.LoadSettings();
        ASSERT_TRUE(port.IsOpen());
        EXPECT_EQ(port.Option(QStringLiteral("colour")), QStringLiteral("blue"));
        EXPECT_EQ(port.Option(QStringLiteral("journal"), QStringLiteral("on")),
                  QStringLiteral("on"));
        port.SetOption(QStringLiteral("Zoom"), QStringLiteral("150\nbaud=1"));
        EXPECT_TRUE(port.SaveSettings());
    }
    EXPECT_TRUE(ReadAll(path).endsWith("flow=none\ncolour=blue\nzoom=150 baud=1\n"));
}

TEST(SettingsSave, GoesToTheDirectoryCurrentAtConstruction) {
    CTempCwd startUp;
    CTerminalPort port;
    PtyPair pty;
    OpenWith(port, SettingsOn(pty.SlavePath()));
    CTempCwd later; // a file dialog moved the current directory
    EXPECT_TRUE(port.SaveSettings());
    EXPECT_EQ(port.SettingsPath(), startUp.File(QStringLiteral("Tallyview.cfg")));
    EXPECT_TRUE(QFile::exists(startUp.File(QStringLiteral("Tallyview.cfg"))));
    EXPECT_FALSE(QFile::exists(later.File(QStringLiteral("Tallyview.cfg"))));
}

TEST(SettingsSave, RemovesOnlyLeftoversOfAnEarlierStore) {
    CTempCwd cwd;
    WriteFile(cwd.File(QStringLiteral("Tallyview.cfg")), "an older file");
    const QStringList kept{QStringLiteral("Other.cfg.qWeRty"), QStringLiteral("Tallyview.cfg"),
                           QStringLiteral("Tallyview.cfg.BACKUP"),
                           QStringLiteral("Tallyview.cfg.backup")};
    for (const QString& name : kept + QStringList{QStringLiteral("Tallyview.cfg.qWeRty")})
        if (name != QLatin1String("Tallyview.cfg"))
            WriteFile(cwd.File(name), "");
    CTerminalPort port;
    PtyPair pty;
    OpenWith(port, SettingsOn(pty.SlavePath()));
    EXPECT_TRUE(port.SaveSettings());
    EXPECT_EQ(QDir(cwd.Path()).entryList(QDir::Files, QDir::Name), kept);
}

TEST(SettingsSave, KeepsTheOwnerOfTheFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "giving the file to another owner needs root";
    CTempCwd cwd;
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    WriteFile(path, "an older file");
    ASSERT_EQ(chown(QFile::encodeName(path).constData(), kNobodyId, kNobodyId), 0);
    CTerminalPort port;
    PtyPair pty;
    OpenWith(port, SettingsOn(pty.SlavePath()));
    EXPECT_TRUE(port.SaveSettings());
    const QFileInfo stored(path);
    EXPECT_EQ(stored.ownerId(), kNobodyId);
    EXPECT_EQ(stored.groupId(), kNobodyId);
}

// A real small file system, mounted for the test and filled up.
class CFullDisk {
public:
    explicit CFullDisk(const QString& path) : m_path(QFile::encodeName(path)) {
        QDir().mkdir(path);
        m_mounted = mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=64k") == 0;
        m_error = m_mounted ? QString() : QString::fromLocal8Bit(strerror(errno));
    }
    ~CFullDisk() {
        if (m_mounted)
            umount2(m_path.constData(), MNT_DETACH);
    }
    const QString& Error() const { return m_error; }
    // Takes what is left of the space.
    void Fill() const {
        QFile filler(QFile::decodeName(m_path) + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(1024, 'f')) == 1024) {
        }
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
    QString m_error;
};

TEST(SettingsSave, OnAFullDiskIsReportedAndLeavesTheOldFileWhole) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    CTempCwd cwd;
    const QString dir = cwd.File(QStringLiteral("disk"));
    const CFullDisk disk(dir);
    if (!disk.Error().isEmpty())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Error().toStdString();
    const QString path = dir + QStringLiteral("/Tallyview.cfg");
    const QByteArray old = "Tallyview port settings 1\n# the old settings\n";
    WriteFile(path, old);
    disk.Fill();
    PtyPair pty;
    QDir::setCurrent(dir);
    CTerminalPort port;
    QDir::setCurrent(cwd.Path());
    OpenWith(port, SettingsOn(pty.SlavePath()));
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    EXPECT_FALSE(port.SaveSettings());
    ASSERT_EQ(answerer.Messages().size(), 1);
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(
        QStringLiteral("could not be stored in %1: No space left on device").arg(path)))
        << answerer.Messages().front().m_text.toStdString();
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("Tallyview.cfg"), QStringLiteral("filler")}));
}

struct SaveFailure {
    const char* m_name;
    QFileDevice::Permissions m_directory;
    std::optional<QByteArray> m_existing; // a read-only file already there
};

void PrintTo(const SaveFailure& c, std::ostream* out) {
    *out << c.m_name;
}

class SettingsSaveFailure : public ::testing::TestWithParam<SaveFailure> {};

TEST_P(SettingsSaveFailure, IsReportedAndLeavesTheFileAsItWas) {
    CTempCwd cwd;
    const QString path = cwd.File(QStringLiteral("Tallyview.cfg"));
    if (GetParam().m_existing) {
        WriteFile(path, *GetParam().m_existing);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    }
    CTerminalPort port;
    PtyPair pty;
    OpenWith(port, SettingsOn(pty.SlavePath()));
    QFile::setPermissions(cwd.Path(), GetParam().m_directory);
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    bool stored = true;
    {
        CUnprivilegedFiles unprivileged;
        stored = port.SaveSettings();
    }
    QFile::setPermissions(cwd.Path(), QFileDevice::Permissions(0x7700));

    EXPECT_FALSE(stored);
    ASSERT_EQ(answerer.Messages().size(), 1);
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(path));
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(QLatin1String("press Escape")));
    EXPECT_EQ(ReadAll(path), GetParam().m_existing.value_or("<missing>"));
    EXPECT_TRUE(port.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsSaveFailure,
    ::testing::Values(SaveFailure{"ReadOnlyFile", QFileDevice::Permissions(0x7777), "kept"},
                      SaveFailure{"UnwritableDirectory", QFileDevice::Permissions(0x7555),
                                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.m_name); });

// Fills the configuration dialog the way an operator would, then presses OK or Cancel.
CModalAnswerer::Answer Answer(const QString& device, const QString& baud,
                              QDialogButtonBox::StandardButton button) {
    return [=](QWidget& dialog) {
        dialog.findChild<QComboBox*>(QStringLiteral("device"))->setEditText(device);
        dialog.findChild<QComboBox*>(QStringLiteral("baud"))->setEditText(baud);
        dialog.findChild<QDialogButtonBox*>()->button(button)->click();
    };
}

class ConfigPort : public ::testing::Test {
protected:
    void SetUp() override {
        OpenWith(m_port, SettingsOn(m_first.SlavePath()));
        m_first.Write("Hello");
        ASSERT_TRUE(WaitUntil([&] { return m_port.PendingSize() == 5; }));
        m_port.ProcessReceived();
        m_rows = m_port.Rows();
    }
    QString Second() const { return QString::fromStdString(m_second.SlavePath()); }

    CTempCwd m_cwd;
    PtyPair m_first;
    PtyPair m_second;
    CTerminalPort m_port;
    std::vector<std::string> m_rows;
};

TEST_F(ConfigPort, AcceptedReopensOnTheNewDeviceAndKeepsTheScreen) {
    CModalAnswerer answerer({Answer(Second(), QStringLiteral("19200"), QDialogButtonBox::Ok)},
                            CModalAnswerer::Ok);
    m_port.Reconfigure();
    EXPECT_TRUE(answerer.Messages().isEmpty());
    ASSERT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.Settings().m_device, Second());
    EXPECT_EQ(m_port.Settings().m_baud, 19200);
    EXPECT_EQ(m_port.Rows(), m_rows);
    m_first.Write("old");
    m_second.Write("new!");
    EXPECT_TRUE(WaitUntil([&] { return m_port.PendingSize() == 4; }));
    EXPECT_EQ(m_first.Read(0), ""); // nothing was ever written back to the line
}

TEST_F(ConfigPort, CancelledChangesNothing) {
    const CPortSettings before = m_port.Settings();
    CModalAnswerer answerer({Answer(Second(), QStringLiteral("300"), QDialogButtonBox::Cancel)},
                            CModalAnswerer::Ok);
    m_port.Reconfigure();
    EXPECT_TRUE(answerer.Messages().isEmpty());
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.Settings(), before);
    m_first.Write("more");
    EXPECT_TRUE(WaitUntil([&] { return m_port.PendingSize() == 4; }));
}

TEST_F(ConfigPort, AcceptedButUnopenableIsReportedAndNeverStored) {
    const QString away = m_cwd.File(QStringLiteral("ttyUSB9"));
    CModalAnswerer answerer({Answer(away, QStringLiteral("9600"), QDialogButtonBox::Ok)},
                            CModalAnswerer::Ok);
    m_port.Reconfigure();
    ASSERT_EQ(answerer.Messages().size(), 1);
    EXPECT_EQ(answerer.Messages().front().m_text, QStringLiteral("FAILED to open the port!"));
    EXPECT_TRUE(answerer.Messages().front().m_detail.contains(away));
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.Settings().m_device, away);
    EXPECT_EQ(m_port.Rows(), m_rows);
    EXPECT_TRUE(m_port.SaveSettings());
    EXPECT_FALSE(QFile::exists(m_port.SettingsPath()));
}

} // namespace
