// The main window run the way the program runs it (modally), driven by real input through the X
// server: the windows it opens take clicks, keys, the wheel and the close request meanwhile.
#include "CModalAnswerer.h"
#include "CPortWindows.h"
#include "CTnCommMonitor.h"
#include "CXdoTool.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

class ModalityTest : public DialogTest {
protected:
    void SetUp() override {
        if (!CXdoTool::Available())
            GTEST_SKIP() << "needs an X display and xdotool";
        WriteSettings();
        ASSERT_TRUE(Dialog().Port().IsOpen());
    }

    // Answers the modal windows of type T that open, from a timer: they run loops of their own.
    template <class T> void Answer(const std::function<void(T&)>& answer) {
        m_answerer.callOnTimeout([answer] {
            if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget()))
                answer(*window);
        });
        m_answerer.start(20);
    }

    QTimer m_answerer;
};

bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 5000);
}

TEST_F(ModalityTest, TheMonitorTakesClicksKeysTheWheelAndTheCloseRequest) {
    const QString capture = m_dir.File(QStringLiteral("game.cap"));
    int fileDialogs = 0; // the first records to the capture, the next is cancelled
    Answer<QFileDialog>([&](QFileDialog& dialog) {
        if (fileDialogs++ > 0)
            return dialog.reject();
        // Typed into the name field, as a user does: selectFile leaves a proposed name in place.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(capture);
        static_cast<QDialog&>(dialog).accept(); // as its Save button does
    });
    const std::string traffic(400 * CTnCommMonitor::kBytesPerLine, 'x');
    CModalAnswerer::RunModally(Dialog(), [&] {
        ASSERT_TRUE(CXdoTool::Click(*Dialog().Control(CTerminalDlg::IDC_MONITOR)));
        ASSERT_TRUE(
            WaitFor([&] { return CPortWindows::Instance().Monitor(Dialog().Port()) != nullptr; }));
        CTnCommMonitor& monitor = *CPortWindows::Instance().Monitor(Dialog().Port());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&monitor));
        auto* record = monitor.findChild<QPushButton*>(QStringLiteral("record"));
        auto* stop = monitor.findChild<QPushButton*>(QStringLiteral("stop"));

        EXPECT_TRUE(CXdoTool::Click(*record));
        EXPECT_TRUE(WaitFor([&] { return stop->isEnabled(); })) << "Record takes no click";
        m_pty.Write(traffic);
        QScrollBar* scroll = monitor.View().verticalScrollBar();
        // Every line shown means every byte was recorded before Stop.
        EXPECT_TRUE(WaitFor([&] {
            return monitor.View().blockCount() >= 400 && scroll->maximum() > 0 &&
                   scroll->value() > 0;
        }));
        EXPECT_TRUE(CXdoTool::Scroll(monitor.View(), -5));
        EXPECT_TRUE(WaitFor([&] { return scroll->value() < scroll->maximum(); }))
            << "the view takes no wheel";

        EXPECT_TRUE(CXdoTool::Key(monitor, QStringLiteral("alt+s")));
        EXPECT_TRUE(WaitFor([&] { return !stop->isEnabled(); })) << "Alt+S does not stop";
        EXPECT_TRUE(CXdoTool::Key(monitor, QStringLiteral("alt+r")));
        EXPECT_TRUE(WaitFor([&] { return fileDialogs == 2; })) << "Alt+R does not record";
        EXPECT_TRUE(CXdoTool::RequestClose(monitor));
        EXPECT_TRUE(WaitFor([&] { return !monitor.isVisible(); })) << "the monitor stays open";

        EXPECT_TRUE(CXdoTool::Key(Dialog(), QStringLiteral("Escape")));
        EXPECT_TRUE(WaitFor([&] { return !Dialog().isVisible(); }));
    });
    EXPECT_EQ(QFile(capture).size(), static_cast<qint64>(traffic.size()));
}

TEST_F(ModalityTest, AfterAFailedStoreEscapeLeavesWithoutStoring) {
    // A folder where the settings file should be cannot be replaced by a file.
    ASSERT_TRUE(QFile::remove(SettingsPath()));
    ASSERT_TRUE(QDir(m_dir.Path()).mkdir(QStringLiteral("Tallyview.cfg")));
    QStringList messages;
    Answer<QMessageBox>([&](QMessageBox& box) {
        messages << box.text();
        box.done(QMessageBox::Ok);
    });
    CModalAnswerer::RunModally(Dialog(), [&] {
        EXPECT_TRUE(CXdoTool::Click(*Dialog().Control(CTerminalDlg::IDC_CLOSE)));
        ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }));
        EXPECT_TRUE(messages.front().contains(QLatin1String("press Escape")))
            << messages.front().toStdString();
        EXPECT_TRUE(Dialog().isVisible());
        EXPECT_TRUE(CXdoTool::Key(Dialog(), QStringLiteral("Escape")));
        EXPECT_TRUE(WaitFor([&] { return !Dialog().isVisible(); }));
    });
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(QFileInfo(SettingsPath()).isDir());
}

} // namespace
