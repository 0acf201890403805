// Copy, Save File, the window menu and the icon, on a real main window fed through a
// pseudo-terminal.
#include "CAboutDlg.h"
#include "CModalAnswerer.h"
#include "CSystemMenu.h"
#include "ExportTestSupport.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

class ExportCommandsTest : public ExportDialogTest {
protected:
    // A right-click as the window system delivers it, at a point of the main window.
    void RightClick(QPoint position) {
        QTest::mouseClick(Dialog().windowHandle(), Qt::RightButton, {}, position);
    }
};

QByteArray Clipboard(const char* target) {
    return RunTool(QStringLiteral("xclip"),
                   {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                    QStringLiteral("-t"), QString::fromLatin1(target)});
}

// What the operator types into the file name field.
void TypeFileName(QFileDialog* dialog, const QString& path) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(path);
}

bool HaveX11() {
    return qgetenv("QT_QPA_PLATFORM") != "offscreen" && qEnvironmentVariableIsSet("DISPLAY");
}

} // namespace

TEST_F(ExportCommandsTest, SaveFileWritesTheRowsWithCrLf) {
    ShowRows(FullRow(0) + FullRow(1) + FullRow(2));
    ASSERT_EQ(Dialog().Lines().size(), 3u);
    const QString chosen = m_dir.File(QStringLiteral("game"));
    QStringList filters;
    QString suffix;
    CModalAnswerer answer([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        TypeFileName(dialog, chosen);
        static_cast<QDialog*>(dialog)->accept(); // what the Save button does
    });
    Click(CTerminalDlg::IDC_SAVE_FILE);
    ASSERT_TRUE(answer.Done());
    EXPECT_EQ(filters, QStringList{QStringLiteral("TXT Files (*.txt)")});
    EXPECT_EQ(suffix, QStringLiteral("txt"));
    EXPECT_EQ(ReadFile(chosen + QStringLiteral(".txt")),
              FullRow(0) + "\r\n" + FullRow(1) + "\r\n" + FullRow(2) + "\r\n");
}

TEST_F(ExportCommandsTest, SaveFileCancelledWritesNothing) {
    ShowRows(FullRow(0));
    CModalAnswerer answer(CModalAnswerer::Reject);
    Click(CTerminalDlg::IDC_SAVE_FILE);
    ASSERT_TRUE(answer.Done());
    EXPECT_EQ(QDir(m_dir.Path()).entryList({QStringLiteral("*.txt")}, QDir::Files), QStringList());
}

// Choosing an existing file asks first; "No" keeps it, "Yes" replaces it.
TEST_F(ExportCommandsTest, SaveFileAsksBeforeOverwriting) {
    ShowRows(FullRow(0));
    const QString existing = m_dir.File(QStringLiteral("old.txt"));
    for (const bool replace : {false, true}) {
        WriteBytes(existing, "keep me");
        QString question;
        CModalAnswerer answer([&](QWidget& modal) {
            auto* dialog = qobject_cast<QFileDialog*>(&modal);
            ASSERT_NE(dialog, nullptr);
            TypeFileName(dialog, existing);
            CModalAnswerer confirm([&](QWidget& box) {
                question = qobject_cast<QMessageBox*>(&box)->text();
                qobject_cast<QMessageBox*>(&box)
                    ->button(replace ? QMessageBox::Yes : QMessageBox::No)
                    ->click();
            });
            static_cast<QDialog*>(dialog)->accept(); // what the Save button does
            if (dialog->isVisible())
                dialog->reject();
        });
        Click(CTerminalDlg::IDC_SAVE_FILE);
        ASSERT_TRUE(answer.Done());
        EXPECT_FALSE(question.isEmpty()) << "no question before overwriting";
        EXPECT_EQ(ReadFile(existing), replace ? FullRow(0) + "\r\n" : QByteArray("keep me"));
    }
}

// LF inside a row goes out as CR LF; a NUL ends the row's text.
TEST_F(ExportCommandsTest, WriteLinesTurnsLfIntoCrLfAndStopsAtNul) {
    QByteArray row0 = FullRow(0);
    row0[10] = '\n';
    QByteArray row1 = FullRow(1);
    row1[20] = '\0';
    ShowRows(row0 + row1);
    const QString path = m_dir.File(QStringLiteral("rows.txt"));
    Dialog().WriteLines(path);
    EXPECT_EQ(ReadFile(path),
              row0.left(10) + "\r\n" + row0.mid(11) + "\r\n" + row1.left(20) + "\r\n");
}

// A file that cannot be created, or whose writing fails, ends the command with a message.
TEST_F(ExportCommandsTest, WriteFailuresAreReported) {
    ShowRows(FullRow(0));
    for (const QString& path :
         {m_dir.File(QStringLiteral("no/such/dir.txt")), QStringLiteral("/dev/full")}) {
        CModalAnswerer answer(CModalAnswerer::Close);
        EXPECT_FALSE(Dialog().WriteLines(path));
        ASSERT_TRUE(answer.Done()) << path.toStdString();
        ASSERT_EQ(answer.Messages().size(), 1) << path.toStdString();
        const CModalAnswerer::Message& shown = answer.Messages().front();
        EXPECT_EQ(shown.m_caption, QStringLiteral("Tallyview"));
        EXPECT_TRUE(shown.m_text.contains(QDir::toNativeSeparators(path)))
            << shown.m_text.toStdString();
    }
}

TEST_F(ExportCommandsTest, CopyPutsRowsOnTheClipboardForOtherPrograms) {
    if (!HaveX11())
        GTEST_SKIP() << "needs an X display, where xclip can read the clipboard";
    ShowRows(FullRow(0) + FullRow(1) + FullRow(2));
    Click(CTerminalDlg::IDC_COPY);
    const QByteArray text = Clipboard("STRING");
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 4) << text.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lines[i] + '\n', ' ' + FullRow(i) + "\r\n") << "line " << i;
    EXPECT_EQ(text.size(), 3 * 135);
}

// Screen bytes are 8-bit text: Latin-1 for programs that ask for it, UTF-8 for the others.
TEST_F(ExportCommandsTest, CopyKeepsEightBitBytes) {
    if (!HaveX11())
        GTEST_SKIP() << "needs an X display, where xclip can read the clipboard";
    ShowRows("Caf\xe9 \xbd");
    Click(CTerminalDlg::IDC_COPY);
    const QByteArray row = "Caf\xe9 \xbd" + QByteArray(126, ' ');
    EXPECT_EQ(Clipboard("STRING"), ' ' + row + "\r\n");
    EXPECT_EQ(Clipboard("UTF8_STRING"), ' ' + QString::fromLatin1(row).toUtf8() + "\r\n");
}

TEST_F(ExportCommandsTest, CopyOfAnEmptyScreenEmptiesTheClipboard) {
    if (!HaveX11())
        GTEST_SKIP() << "needs an X display, where xclip can read the clipboard";
    ShowRows(FullRow(0));
    Click(CTerminalDlg::IDC_COPY);
    ASSERT_FALSE(Clipboard("STRING").isEmpty());
    ShowRows("");
    ASSERT_TRUE(Dialog().Lines().empty());
    Click(CTerminalDlg::IDC_COPY);
    EXPECT_EQ(Clipboard("STRING"), QByteArray());
}

// Right-click outside the list: the window menu, its last entry opening the About box.
TEST_F(ExportCommandsTest, AboutFromTheWindowMenu) {
    Dialog().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
    QStringList entries;
    QString aboutCaption;
    CModalAnswerer menu([&](QWidget& popup) {
        auto* m = qobject_cast<QMenu*>(&popup);
        ASSERT_NE(m, nullptr);
        for (const QAction* action : m->actions())
            entries << action->text();
        QAction* about = m->actions().constLast();
        CModalAnswerer box([&](QWidget& modal) {
            aboutCaption = modal.windowTitle();
            QTest::mouseClick(
                modal.findChild<QPushButton*>(QString::number(CAboutDlg::kOkButtonId)),
                Qt::LeftButton);
        });
        QTest::mouseClick(m, Qt::LeftButton, {}, m->actionGeometry(about).center());
        EXPECT_TRUE(box.Done());
    });
    const QPoint outsideList = Dialog().Control(CTerminalDlg::IDC_CURSOR)->geometry().center();
    RightClick(outsideList);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.Done(); }, 2000));
    EXPECT_EQ(entries, Dialog().findChild<CSystemMenu*>()->ContextEntries());
    EXPECT_EQ(entries.mid(0, 3),
              (QStringList{QStringLiteral("Mi&nimise"), QStringLiteral("Ma&ximise"),
                           QStringLiteral("&Close")}));
    EXPECT_EQ(entries.mid(entries.size() - 5),
              (QStringList{QString(), QStringLiteral("&History..."), QStringLiteral("&Share..."),
                           QStringLiteral("&Fields..."), QStringLiteral("&About Tallyview...")}));
    EXPECT_EQ(aboutCaption, QStringLiteral("About Tallyview"));
    EXPECT_TRUE(Dialog().isVisible());
}

TEST_F(ExportCommandsTest, NoWindowMenuOverTheList) {
    Dialog().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
    // The clicks are delivered in order: a menu over the list would take the first answer.
    bool second = false;
    CModalAnswerer menus({CModalAnswerer::Close}, [&](QWidget& popup) {
        second = true;
        popup.close();
    });
    auto* list = qobject_cast<QListWidget*>(Dialog().Control(CTerminalDlg::IDC_LIST));
    RightClick(list->viewport()->mapTo(&Dialog(), QPoint(20, 20)));
    RightClick(Dialog().Control(CTerminalDlg::IDC_LABEL)->geometry().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return menus.Done(); }, 2000)) << "no menu beside the list";
    EXPECT_FALSE(second) << "a menu opened over the list";
}

TEST_F(ExportCommandsTest, MainWindowShowsTheIcon) {
    const QList<QSize> sizes = Dialog().windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

// The menu's Close is the window's close: the settings are stored on the way out.
TEST_F(ExportCommandsTest, CloseFromTheWindowMenuStoresTheSettings) {
    Dialog().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
    const QByteArray stored = SettingsText();
    OverwriteSettings("stale");
    CModalAnswerer menu([](QWidget& popup) {
        auto* m = qobject_cast<QMenu*>(&popup);
        QAction* close = m->actions().at(2);
        QTest::mouseClick(m, Qt::LeftButton, {}, m->actionGeometry(close).center());
    });
    const QPoint outsideList = Dialog().Control(CTerminalDlg::IDC_LABEL)->geometry().center();
    RightClick(outsideList);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Dialog().isVisible(); }, 2000));
    EXPECT_TRUE(menu.Done());
    EXPECT_EQ(SettingsText(), stored);
}
