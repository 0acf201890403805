#include "CPortWindows.h"
#include "ScreenTestSupport.h"
#include "UiTestSupport.h"

#include "CModalAnswerer.h"
#include "CNetworkCable.h"
#include "CTnCommMonitor.h"
#include "PortTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTest>
#include <map>
#include <string>

namespace {

using Id = CTerminalDlg::ControlId;

QString FieldText(CTerminalDlg& dialog, int id) {
    return qobject_cast<QLabel*>(dialog.Control(id))->text();
}

QListWidget* List(CTerminalDlg& dialog) {
    return qobject_cast<QListWidget*>(dialog.Control(CTerminalDlg::IDC_LIST));
}

// Padded to the 132 columns every screen row has.
QString Row(const QString& text, int indent = 0) {
    return (QString(indent, QLatin1Char(' ')) + text).leftJustified(132, QLatin1Char(' '));
}

std::map<int, bool> DataButtonStates(CTerminalDlg& dialog) {
    std::map<int, bool> states;
    for (int id : {Id::IDC_CONFIG_PORT, Id::IDC_MONITOR, Id::IDC_COPY, Id::IDC_PRINT,
                   Id::IDC_SAVE_FILE, Id::IDC_CLOSE})
        states[id] = dialog.Control(id)->isEnabled();
    return states;
}

} // namespace

TEST_F(DialogTest, WithoutSettingsOnlyConfigPortAndCloseWorkAndNothingRefreshes) {
    CTerminalDlg& dialog = Dialog();
    EXPECT_FALSE(dialog.Port().IsOpen());
    EXPECT_EQ(dialog.windowTitle(), "Korvane Benchline Emulator");
    const std::map<int, bool> expected{{Id::IDC_CONFIG_PORT, true}, {Id::IDC_MONITOR, false},
                                       {Id::IDC_COPY, false},       {Id::IDC_PRINT, false},
                                       {Id::IDC_SAVE_FILE, false},  {Id::IDC_CLOSE, true}};
    EXPECT_EQ(DataButtonStates(dialog), expected);

    // Bytes that reached the port anyhow stay undrained while it is closed.
    dialog.Port().HandleTerminalData('X');
    Refresh();
    EXPECT_EQ(dialog.Port().PendingSize(), 1u);
    EXPECT_TRUE(Items().isEmpty());
    EXPECT_EQ(FieldText(dialog, Id::IDC_CURSOR), "x-y");
    EXPECT_EQ(FieldText(dialog, Id::IDC_STATUS), "Status");
    EXPECT_EQ(FieldText(dialog, Id::IDC_LABEL), "Label");

    // Closing with the port closed creates no settings file.
    qobject_cast<QPushButton*>(dialog.Control(Id::IDC_CLOSE))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(QFile::exists(SettingsPath()));
}

TEST_F(DialogTest, WithSettingsThePortOpensAndEveryButtonWorks) {
    WriteSettings();
    CTerminalDlg& dialog = Dialog();
    EXPECT_TRUE(dialog.Port().IsOpen());
    for (const auto& [id, enabled] : DataButtonStates(dialog))
        EXPECT_TRUE(enabled) << id;
    EXPECT_NE(dialog.TimerId(), 0);
}

// A device server that answers only after the window is up (its cable goes in then): the
// window is usable meanwhile, and its data buttons follow once the port has opened.
TEST_F(DialogTest, ANetworkLineOpeningLateEnablesTheDataButtons) {
    CNetworkCable cable;
    if (!cable.Problem().isEmpty())
        GTEST_SKIP() << "no network cable here: " << cable.Problem().toStdString();
    quint16 tcpPort = 0;
    QTcpServer server;
    ASSERT_TRUE(server.setSocketDescriptor(cable.ListenFar(tcpPort)));
    ASSERT_TRUE(cable.Pull()) << cable.Problem().toStdString();
    ASSERT_TRUE(WriteSettingsFile(
        SettingsPath(), QStringLiteral("tcp://%1:%2").arg(cable.FarAddress()).arg(tcpPort)));
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    CTerminalDlg& dialog = Dialog();
    dialog.show();
    EXPECT_FALSE(dialog.Control(Id::IDC_COPY)->isEnabled());
    int ticks = 0;
    QTimer ticker;
    ticker.callOnTimeout([&] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 5; }));
    EXPECT_FALSE(dialog.Port().IsOpen());
    ASSERT_TRUE(cable.PlugIn()) << cable.Problem().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return dialog.Port().IsOpen(); }, 10000))
        << answerer.Texts().join(' ').toStdString();
    for (const auto& [id, enabled] : DataButtonStates(dialog))
        EXPECT_TRUE(enabled) << id;
    EXPECT_TRUE(answerer.Messages().isEmpty());
}

TEST_F(DialogTest, ATimerTickShowsWhatArrived) {
    WriteSettings();
    Send("Tick");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Items().size() == 1; }, 3 * CTerminalDlg::kRefreshMs));
    EXPECT_EQ(Items().front(), Row("Tick"));
}

TEST_F(DialogTest, RefreshShowsRowsUpToTheLastNonBlankOne) {
    WriteSettings();
    Send(At(5, 3) + "Home 12");
    Refresh();
    ASSERT_EQ(Dialog().Lines().size(), 6u);
    for (const std::string& row : Dialog().Lines())
        EXPECT_EQ(row.size(), 132u);
    QStringList expected(5, Row({}));
    expected << Row("Home 12", 3);
    EXPECT_EQ(Items(), expected);
    EXPECT_EQ(FieldText(Dialog(), Id::IDC_CURSOR), "006-011");
}

TEST_F(DialogTest, TrailingBlankRowsFollowTheNulRule) {
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t rows;
        QString lastItem;
    };
    const Case cases[] = {
        {"a row starting with NUL is kept, shown empty", At(41, 0) + '\0' + "ab", 42, ""},
        {"white space before a NUL is blank", At(3, 0) + "x" + At(7, 0) + "  " + '\0' + "abc", 4,
         Row("x")},
        {"control white space is blank", At(2, 0) + "\t\r\n\v\f", 0, ""},
        {"other control bytes are not", At(1, 0) + "\x07", 2, Row(QChar(u'\u25CF'))},
    };
    WriteSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Send(Esc("+") + c.bytes);
        Refresh();
        EXPECT_EQ(Dialog().Lines().size(), c.rows);
        ASSERT_EQ(Items().size(), static_cast<qsizetype>(c.rows));
        if (c.rows > 0) {
            EXPECT_EQ(Items().back(), c.lastItem);
        }
    }
}

TEST_F(DialogTest, EachByteShowsAsOneCharacterAndTheLinesKeepTheBytes) {
    WriteSettings();
    Send("A\r\nB\tC\x80\xE9");
    Refresh();
    ASSERT_EQ(Items().size(), 1);
    const QString item = Items().front();
    EXPECT_EQ(item.size(), 132);
    EXPECT_TRUE(item.startsWith(QStringLiteral("A\u266A\u25D9B\u25CBC\u20AC\u00E9")))
        << item.toStdString();
    EXPECT_EQ(Dialog().Lines().front().substr(0, 8), "A\r\nB\tC\x80\xE9");
}

TEST_F(DialogTest, FieldsShowStatusLabelAndCursorAsSent) {
    WriteSettings();
    Send(Esc("F  Home 12  \r") + Esc("f<b>Period 2</b> & more\r"));
    Refresh();
    EXPECT_EQ(FieldText(Dialog(), Id::IDC_STATUS), "Home 12");
    EXPECT_EQ(FieldText(Dialog(), Id::IDC_LABEL), "<b>Period 2</b> & more");
    EXPECT_EQ(qobject_cast<QLabel*>(Dialog().Control(Id::IDC_LABEL))->textFormat(), Qt::PlainText);
    EXPECT_EQ(FieldText(Dialog(), Id::IDC_CURSOR), "001-001");

    // 132 columns, then ESC a to the last row and column.
    Send(Esc("`;") + Esc("a42R132C"));
    Refresh();
    EXPECT_EQ(FieldText(Dialog(), Id::IDC_CURSOR), "042-132");
}

TEST_F(DialogTest, SelectionSurvivesARefresh) {
    WriteSettings();
    std::string rows;
    for (int r = 0; r < 20; ++r)
        rows += At(r, 0) + "row " + std::to_string(r);
    Send(rows);
    Refresh();
    List(Dialog())->setCurrentRow(10);
    Send(At(10, 0) + "ROW");
    Refresh();
    EXPECT_EQ(Items()[10], Row("ROW 10"));
    EXPECT_EQ(List(Dialog())->currentRow(), 10);
    EXPECT_TRUE(List(Dialog())->item(10)->isSelected());
}

TEST_F(DialogTest, ListShowsExactlyTheCurrentRowsAndTheExtentNeverShrinks) {
    WriteSettings();
    Dialog().show();
    Send(Esc("`;") + At(11, 0) + std::string(131, 'W') + "Z");
    Refresh();
    ASSERT_EQ(Items().size(), 12);
    QListWidget* list = List(Dialog());
    QScrollBar* scroll = list->horizontalScrollBar();
    const int rowWidth = QFontMetrics(list->font()).horizontalAdvance(Items().back());
    ASSERT_TRUE(QTest::qWaitFor([&] { return scroll->maximum() > 0; }, 1000));
    // Scrolled right to the end, the last column is in view.
    EXPECT_GE(scroll->maximum() + list->viewport()->width(), rowWidth);
    const int maximum = scroll->maximum();

    // Fewer rows: the ones below are gone, the scroll range stays.
    Send(Esc("+") + At(3, 0) + "short");
    Refresh();
    EXPECT_EQ(Items(), (QStringList{Row({}), Row({}), Row({}), Row("short")}));
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll->maximum(), maximum);

    Send(Esc("+"));
    Refresh();
    EXPECT_TRUE(Items().isEmpty());
    EXPECT_TRUE(Dialog().Lines().empty());
}

TEST_F(DialogTest, EnterPressesNothing) {
    WriteSettings();
    Dialog().show();
    const QByteArray marker("not rewritten");
    OverwriteSettings(marker);
    for (int id : {Id::IDC_LIST, Id::IDC_CLOSE}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            Dialog().Control(id)->setFocus();
            QTest::keyClick(Dialog().Control(id), key);
            EXPECT_TRUE(Dialog().isVisible()) << id;
        }
    }
    EXPECT_EQ(SettingsText(), marker);
}

TEST_F(DialogTest, AFailedStoreKeepsTheWindowOpenAndRefreshing) {
    WriteSettings();
    Dialog().show();
    const int timer = Dialog().TimerId();
    // A folder where the settings file should be cannot be replaced by a file.
    ASSERT_TRUE(QFile::remove(SettingsPath()));
    ASSERT_TRUE(QDir(m_dir.Path()).mkdir(QStringLiteral("Tallyview.cfg")));

    CModalAnswerer answers({CModalAnswerer::Accept, CModalAnswerer::Accept});
    qobject_cast<QPushButton*>(Dialog().Control(Id::IDC_CLOSE))->click();
    Dialog().close();
    EXPECT_TRUE(answers.Done());
    EXPECT_EQ(answers.Texts().size(), 2);
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Dialog().TimerId(), timer);
}

TEST_F(DialogTest, ConfigPortUpdatesTheButtons) {
    auto line = std::make_unique<PtyPair>();
    CPortSettings settings;
    settings.m_device = QString::fromStdString(line->SlavePath());
    Dialog().Port().SetSettings(settings);
    auto* configPort = qobject_cast<QPushButton*>(Dialog().Control(Id::IDC_CONFIG_PORT));
    {
        CModalAnswerer answers(CModalAnswerer::Accept);
        configPort->click();
        EXPECT_TRUE(answers.Done());
    }
    EXPECT_TRUE(Dialog().Port().IsOpen());
    EXPECT_TRUE(Dialog().Control(Id::IDC_COPY)->isEnabled());

    // The device goes away; accepting the same settings again cannot open it.
    line.reset();
    CModalAnswerer answers({CModalAnswerer::Accept, CModalAnswerer::Accept});
    configPort->click();
    EXPECT_EQ(answers.Texts(), QStringList{"FAILED to open the port!"});
    for (int id : {Id::IDC_MONITOR, Id::IDC_COPY, Id::IDC_PRINT, Id::IDC_SAVE_FILE})
        EXPECT_FALSE(Dialog().Control(id)->isEnabled()) << id;
}

TEST_F(DialogTest, MonitorShowsTheTrafficMonitor) {
    WriteSettings();
    qobject_cast<QPushButton*>(Dialog().Control(Id::IDC_MONITOR))->click();
    ASSERT_NE(CPortWindows::Instance().Monitor(Dialog().Port()), nullptr);
    EXPECT_TRUE(CPortWindows::Instance().Monitor(Dialog().Port())->isVisible());
}

TEST_F(DialogTest, ScreenshotOfTheWindowWithKnownText) {
    WriteSettings();
    Dialog().show();
    const QRect listArea = Dialog().Control(Id::IDC_LIST)->geometry();
    const QImage blank = Dialog().grab().toImage().copy(listArea);
    std::string rows;
    for (int r = 0; r < 42; ++r)
        rows += At(r, 0) + "Row " + std::to_string(r) + " HOME 3 VISITORS 2";
    Send(rows);
    Refresh();

    const QString path = m_dir.File(QStringLiteral("window.png"));
    ASSERT_TRUE(Dialog().grab().save(path, "PNG"));
    const QImage shot(path);
    EXPECT_EQ(shot.size(), QSize(739, 544));
    EXPECT_NE(shot.copy(listArea), blank);
}

// The close paths: which store the settings, and how the window ends.
struct CloseCase {
    const char* name;
    enum { CloseButton, CloseBox, Escape } action;
    bool portOpen;
    bool rewritten;
    int result;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class ClosePathTest : public DialogTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosePathTest, StoresSettingsOnlyWhenClosedWithThePortOpen) {
    const CloseCase& c = GetParam();
    WriteSettings();
    Dialog().show();
    ASSERT_TRUE(Dialog().Port().IsOpen());
    if (!c.portOpen)
        Dialog().Port().Close();
    const QByteArray marker("not rewritten");
    OverwriteSettings(marker);

    switch (c.action) {
    case CloseCase::CloseButton:
        qobject_cast<QPushButton*>(Dialog().Control(Id::IDC_CLOSE))->click();
        break;
    case CloseCase::CloseBox:
        Dialog().close();
        break;
    case CloseCase::Escape:
        QTest::keyClick(Dialog().Control(Id::IDC_LIST), Qt::Key_Escape);
        break;
    }
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_EQ(Dialog().result(), c.result);
    if (c.rewritten) {
        EXPECT_TRUE(SettingsText().contains(QByteArray::fromStdString(m_pty.SlavePath())));
    } else {
        EXPECT_EQ(SettingsText(), marker);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, ClosePathTest,
    ::testing::Values(
        CloseCase{"CloseButton", CloseCase::CloseButton, true, true, QDialog::Accepted},
        CloseCase{"CloseBox", CloseCase::CloseBox, true, true, QDialog::Rejected},
        CloseCase{"Escape", CloseCase::Escape, true, false, QDialog::Rejected},
        CloseCase{"CloseButtonPortClosed", CloseCase::CloseButton, false, false, QDialog::Accepted},
        CloseCase{"CloseBoxPortClosed", CloseCase::CloseBox, false, false, QDialog::Rejected}),
    [](const auto& info) { return std::string(info.param.name); });
