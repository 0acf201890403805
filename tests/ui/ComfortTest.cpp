// Text size, looks, keys, fitting and the remembered window, on a real main window under X with
// real key and wheel events.
#include "CComfort.h"
#include "CExportCommands.h"
#include "CLook.h"
#include "CModalAnswerer.h"
#include "CPortWindows.h"
#include "CSystemMenu.h"
#include "CTnCommMonitor.h"
#include "CXdoTool.h"
#include "CZoom.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <set>

namespace {

using Look = CLook::Look;
const QByteArray kFullRow(132, 'W');

class ComfortTest : public DialogTest {
protected:
    void SetUp() override {
        if (qgetenv("QT_QPA_PLATFORM") == "offscreen" || !qEnvironmentVariableIsSet("DISPLAY"))
            GTEST_SKIP() << "needs an X display for real input events";
    }

    QListWidget& List() {
        return *qobject_cast<QListWidget*>(Dialog().Control(CTerminalDlg::IDC_LIST));
    }
    int Percent() { return Dialog().Comfort().Zoom().Percent(); }

    // 41 full rows and a short last one, so that nothing scrolls.
    void FillScreen() {
        QByteArray rows;
        for (int i = 0; i < 41; ++i)
            rows += kFullRow;
        Send(("\x1b+\x1b=  \x1b`;" + rows + "END").toStdString());
        Refresh();
        ASSERT_EQ(List().count(), 42);
    }

    void ShowFocused() {
        Dialog().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
        Dialog().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Dialog()));
    }

    // Input through the X server, as a keyboard and mouse give it.
    static void Xdo(const QStringList& arguments) { ASSERT_TRUE(CXdoTool::Run(arguments)); }
    static void Keys(const QStringList& keys) { Xdo(QStringList{"key", "--delay", "10"} + keys); }
    void WaitForPercent(int percent) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return Percent() == percent; }, 3000))
            << "text size " << Percent() << "%, expected " << percent << "%";
    }

    // The end of the first row lies inside the list's viewport, as does the last row.
    bool EveryColumnAndRowVisible() {
        const QRect first = List().visualRect(List().model()->index(0, 0));
        const QRect last = List().visualRect(List().model()->index(41, 0));
        const int textRight =
            first.x() +
            QFontMetrics(List().font()).horizontalAdvance(QString::fromLatin1(kFullRow));
        return textRight <= List().viewport()->width() && last.y() >= 0 &&
               last.bottom() < List().viewport()->height();
    }

    QColor ListBackground() {
        QWidget* viewport = List().viewport();
        const QPoint corner =
            viewport->mapToGlobal(QPoint(viewport->width() - 5, viewport->height() - 5));
        const QImage shot =
            Dialog().screen()->grabWindow(0, corner.x(), corner.y(), 1, 1).toImage();
        return shot.pixelColor(0, 0);
    }
};

class FitTest : public ComfortTest, public ::testing::WithParamInterface<int> {};

} // namespace

TEST_P(FitTest, FitShowsEveryColumnAndRowWithinTheScreen) {
    WriteSettings();
    FillScreen();
    ShowFocused();
    Dialog().Comfort().Zoom().SetPercent(GetParam());
    Refresh();
    Dialog().Comfort().FitColumns();
    EXPECT_TRUE(QTest::qWaitFor([&] { return EveryColumnAndRowVisible(); }, 3000));
    const QRect area = Dialog().screen()->availableGeometry();
    EXPECT_TRUE(area.contains(Dialog().frameGeometry())) << area.width() << "x" << area.height();
    // 132 columns at twice the size need a screen about 2000 pixels wide.
    if (GetParam() == 200 && area.width() < 2000)
        EXPECT_LT(Percent(), 200);
    else
        EXPECT_EQ(Percent(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Fit, FitTest, ::testing::Values(100, 200));

TEST_F(ComfortTest, TextSizeKeysAndWheelStayWithinTheLimitsAndTheExtentFollows) {
    WriteSettings();
    FillScreen();
    ShowFocused();
    Keys(QStringList(14, QStringLiteral("ctrl+plus")));
    WaitForPercent(300);
    // One more step up stays at the limit: the step down afterwards lands one step below it.
    Keys({QStringLiteral("ctrl+plus"), QStringLiteral("ctrl+minus")});
    WaitForPercent(250);
    Keys(QStringList(14, QStringLiteral("ctrl+minus")) << QStringLiteral("ctrl+plus"));
    WaitForPercent(67);
    Keys({QStringLiteral("ctrl+0")});
    WaitForPercent(100);
    EXPECT_DOUBLE_EQ(List().font().pointSizeF(), Dialog().font().pointSizeF());

    const QPoint centre = List().viewport()->mapToGlobal(List().viewport()->rect().center());
    Xdo({"mousemove", QString::number(centre.x()), QString::number(centre.y()), "keydown", "ctrl",
         "click", "4", "click", "4", "keyup", "ctrl"});
    WaitForPercent(125);
    Xdo({"keydown", "ctrl", "click", "5", "keyup", "ctrl"});
    WaitForPercent(110);

    // The horizontal scroll bar still reaches the last column at the largest size.
    Keys(QStringList(6, QStringLiteral("ctrl+plus")));
    WaitForPercent(300);
    Refresh();
    QScrollBar* bar = List().horizontalScrollBar();
    const int rowWidth =
        QFontMetrics(List().font()).horizontalAdvance(QString::fromLatin1(kFullRow));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return bar->maximum() + List().viewport()->width() >= rowWidth; }, 3000))
        << bar->maximum() + List().viewport()->width() << " of " << rowWidth;
}

TEST_F(ComfortTest, EachLookColoursTheListAndTheMonitorFollows) {
    WriteSettings();
    ShowFocused();
    QStringList entries = Dialog().findChild<CSystemMenu*>()->ContextEntries();
    EXPECT_TRUE(entries.contains(QStringLiteral("Fit 132 columns")));
    std::set<QRgb> backgrounds;
    for (const Look look : {Look::Dark, Look::HighContrast, Look::Classic}) {
        QAction* entry = nullptr;
        for (QAction* action : Dialog().findChildren<QAction*>())
            if (action->text() == CLook::Name(look))
                entry = action;
        ASSERT_NE(entry, nullptr) << CLook::Name(look).toStdString();
        entry->trigger();
        const QColor expected = CLook::Palette(look).color(QPalette::Base);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ListBackground() == expected; }, 3000))
            << CLook::Name(look).toStdString() << ": " << ListBackground().name().toStdString()
            << " instead of " << expected.name().toStdString();
        backgrounds.insert(ListBackground().rgb());
    }
    EXPECT_EQ(backgrounds.size(), 3u);

    CLook::Instance().Set(Look::HighContrast);
    QTest::mouseClick(qobject_cast<QPushButton*>(Dialog().Control(CTerminalDlg::IDC_MONITOR)),
                      Qt::LeftButton);
    ASSERT_NE(CPortWindows::Instance().Monitor(Dialog().Port()), nullptr);
    EXPECT_EQ(CPortWindows::Instance().Monitor(Dialog().Port())->palette().color(QPalette::Base),
              QColor(Qt::black));
    CLook::Instance().Set(Look::Classic);
}

// Ctrl+C, Ctrl+S and Ctrl+P do what Copy, Save File and Print do while the port is open; with the
// port closed the buttons are disabled and no key does anything. Ctrl+0 after them shows that
// they were handled.
TEST_F(ComfortTest, ButtonKeysWorkOnlyWhileTheirButtonsAre) {
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "port open" : "port closed");
        if (open)
            WriteSettings();
        else
            QFile::remove(SettingsPath());
        DropDialog();
        ShowFocused();
        ASSERT_EQ(Dialog().Port().IsOpen(), open);
        Dialog().Comfort().Zoom().SetPercent(200);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        // The save dialog is cancelled; a printing problem's box, if any, is closed.
        CModalAnswerer saveDialog({CModalAnswerer::Reject}, CModalAnswerer::Close);
        const QString printFile = m_dir.File(QString::fromLatin1(CExportCommands::kPrintFile));
        // Each key waits for its command while the port is open, so the next one is not
        // typed into a window the command opened.
        Keys({QStringLiteral("ctrl+c")});
        if (open) {
            EXPECT_TRUE(QTest::qWaitFor(
                [] { return QGuiApplication::clipboard()->text() != QStringLiteral("before"); }));
        }
        Keys({QStringLiteral("ctrl+s")});
        if (open) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return saveDialog.Done(); }));
            ShowFocused();
        }
        Keys({QStringLiteral("ctrl+p")});
        if (open) {
            // The key's handler prints and answers its boxes before the wait looks again.
            EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(printFile); }));
            ShowFocused();
        }
        Keys({QStringLiteral("ctrl+0")});
        WaitForPercent(100);
        EXPECT_EQ(saveDialog.Done(), open);
        EXPECT_EQ(QGuiApplication::clipboard()->text() == QStringLiteral("before"), !open);
        EXPECT_EQ(QFile::exists(printFile), open);
        QFile::remove(printFile);
        Dialog().close();
    }
}

TEST_F(ComfortTest, PlacementTextSizeAndLookComeBackAtTheNextStart) {
    WriteSettings();
    ShowFocused();
    const QRect placed(100, 80, 1000, 700);
    Dialog().setGeometry(placed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog().geometry() == placed; }, 3000));
    Dialog().Comfort().Zoom().SetPercent(150);
    CLook::Instance().Set(Look::Dark);
    Dialog().close();
    DropDialog();
    CLook::Instance().Set(Look::Classic);

    Dialog().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
    EXPECT_EQ(Dialog().geometry(), placed);
    EXPECT_EQ(Percent(), 150);
    EXPECT_EQ(CLook::Instance().Current(), Look::Dark);
    Dialog().showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog().isMaximized(); }, 3000));
    Dialog().close();
    DropDialog();
    EXPECT_TRUE(Dialog().windowState() & Qt::WindowMaximized);
    EXPECT_EQ(Dialog().normalGeometry(), placed);
    Dialog().Comfort().Zoom().Normal();
    CLook::Instance().Set(Look::Classic);
    Dialog().close();
    DropDialog();

    // A placement on no screen of today's (a monitor since unplugged), or one that no version
    // wrote, gives the template size.
    for (const char* stored : {"window=5000 4000 800 600", "window=100 80 -5 300", "window=x"}) {
        OverwriteSettings(QString::fromLatin1(SettingsText())
                              .replace(QRegularExpression("window=[^\n]*"), stored)
                              .toLatin1());
        ASSERT_TRUE(SettingsText().contains(stored));
        EXPECT_EQ(Dialog().size(), QSize(739, 544)) << stored;
        EXPECT_FALSE(Dialog().isMaximized());
        DropDialog();
    }
}

TEST_F(ComfortTest, ControlsHaveNamesAndRowsAreReadable) {
    WriteSettings();
    FillScreen();
    std::set<QString> names;
    for (int id = CTerminalDlg::IDC_LIST; id <= CTerminalDlg::IDC_CLOSE; ++id)
        names.insert(Dialog().Control(id)->accessibleName());
    EXPECT_EQ(names.size(), 10u);
    EXPECT_FALSE(names.contains(QString()));

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&List());
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    EXPECT_EQ(list->tableInterface()->rowCount(), 42);
    EXPECT_EQ(list->tableInterface()->cellAt(0, 0)->text(QAccessible::Name),
              QString::fromLatin1(kFullRow));
    EXPECT_EQ(list->tableInterface()->cellAt(41, 0)->text(QAccessible::Name).trimmed(),
              QStringLiteral("END"));
}
