// The Fields window driven with the real mouse and keys through the X server while the main
// window runs modally, as in the program, over a screen fed through the real port.
#include "CFieldDefinitions.h"
#include "CFieldList.h"
#include "CFieldOverlay.h"
#include "CFieldsDlg.h"
#include "CFieldsFeed.h"
#include "CModalAnswerer.h"
#include "CXdoTool.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

namespace {

std::string At(int row, int col) {
    return std::string{'\x1b', 'a'} + std::to_string(row) + "R" + std::to_string(col) + "C";
}

const std::string kScreen = "\x1b+\x1b`;" + At(2, 1) + "HOME 12   AWAY 7" + At(5, 1) +
                            "Smith     12" + At(6, 1) + "Jones      8" + At(7, 1) + "Brown     21";

bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 5000);
}

class FieldsDlgTest : public DialogTest {
protected:
    void SetUp() override {
        if (!CXdoTool::Available())
            GTEST_SKIP() << "needs an X display and xdotool";
    }

    // The window as the operator opens it: a right-click outside the list, then F.
    CFieldsDlg* OpenFromMenu() {
        const QWidget* label = Dialog().Control(CTerminalDlg::IDC_LABEL);
        const QPoint at = label->mapToGlobal(label->rect().center());
        // The menu runs a loop of its own, where the answerer presses F.
        CModalAnswerer menu([](QWidget& popup) {
            EXPECT_TRUE(qobject_cast<QMenu*>(&popup));
            EXPECT_TRUE(CXdoTool::Run({QStringLiteral("key"), QStringLiteral("f")}));
        });
        EXPECT_TRUE(
            CXdoTool::Run({QStringLiteral("mousemove"), QString::number(at.x()),
                           QString::number(at.y()), QStringLiteral("click"), QStringLiteral("3")}));
        EXPECT_TRUE(WaitFor([&] {
            auto* window = Dialog().findChild<CFieldsDlg*>();
            return window && window->isVisible();
        }));
        m_window = Dialog().findChild<CFieldsDlg*>();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window));
        m_overlay = m_window->findChild<CFieldOverlay*>();
        m_list = m_window->findChild<CFieldList*>();
        return m_window;
    }

    QPoint Cell(int col, int row) const {
        return m_overlay->CellRect(QRect(col, row, 1, 1)).center();
    }
    // A drag over the screen from one cell to another (0-based), then a name typed and Enter.
    bool Mark(QPoint from, QPoint to, const QString& name) {
        return CXdoTool::Drag(*m_overlay, Cell(from.x(), from.y()), Cell(to.x(), to.y())) &&
               CXdoTool::Type(*m_window, name) &&
               CXdoTool::Key(*m_window, QStringLiteral("Return"));
    }
    bool Click(const char* name) {
        return CXdoTool::Click(*m_window->findChild<QWidget*>(QLatin1String(name)));
    }
    CFieldDefinitions Stored() const {
        QString problem;
        return CFieldDefinitions::Load(m_window->Path(), &problem).value_or(CFieldDefinitions{});
    }
    QString Value(const QString& name, int row = -1) const {
        const QTreeWidgetItem* item = m_list->Item(name);
        if (item && row >= 0)
            item = item->child(row);
        return item ? item->text(CFieldList::kValue) : QStringLiteral("(none)");
    }
    // The address the window shows for path, found in its list.
    QString Url(const QString& port, const QString& path) const {
        const QString start = QStringLiteral("http://127.0.0.1:") + port + path + "?code=";
        const QString addresses =
            m_window->findChild<QPlainTextEdit*>(QStringLiteral("addresses"))->toPlainText();
        for (const QString& line : addresses.split(QLatin1Char('\n')))
            if (line.startsWith(start))
                return line;
        ADD_FAILURE() << start.toStdString() << " not in " << addresses.toStdString();
        return {};
    }
    static QByteArray Get(const QString& url) {
        QNetworkAccessManager network;
        QNetworkReply* reply = network.get(QNetworkRequest(QUrl(url)));
        EXPECT_TRUE(WaitFor([&] { return reply->isFinished(); }));
        EXPECT_EQ(reply->error(), QNetworkReply::NoError) << reply->errorString().toStdString();
        return reply->readAll();
    }
    QString Message() const {
        return m_window->findChild<QLabel*>(QStringLiteral("message"))->text();
    }

    CFieldsDlg* m_window = nullptr;
    CFieldOverlay* m_overlay = nullptr;
    CFieldList* m_list = nullptr;
};

TEST_F(FieldsDlgTest, MakesMovesAndDeletesFieldsAndTablesWithTheMouse) {
    QTcpServer probe; // a free port for sharing
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    WriteSettings(
        {{QStringLiteral("share"), QStringLiteral("on")}, {QStringLiteral("share_port"), port}});
    Send(kScreen);
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());

        // A field over "12" on row 2: stored, and its value from the line, live.
        ASSERT_TRUE(Mark({5, 1}, {6, 1}, QStringLiteral("home")));
        ASSERT_TRUE(WaitFor([&] { return !Stored().m_fields.empty(); })) << Message().toStdString();
        EXPECT_EQ(Stored().m_fields, (std::vector<CFieldDefinitions::Field>{
                                         {QStringLiteral("home"), 2, 6, 2, 1, {}}}));
        EXPECT_TRUE(WaitFor([&] { return Value(QStringLiteral("home")) == QLatin1String("12"); }));
        m_pty.Write(At(2, 6) + "13");
        EXPECT_TRUE(WaitFor([&] { return Value(QStringLiteral("home")) == QLatin1String("13"); }))
            << Value(QStringLiteral("home")).toStdString();
        EXPECT_EQ(Get(Url(port, QStringLiteral("/fields.json"))), R"([{"home":"13"}])");

        // Labelled for the cards: stored, and listed under it beside its name.
        ASSERT_TRUE(Click("label"));
        ASSERT_TRUE(CXdoTool::Type(*m_window, QStringLiteral("Home score")));
        ASSERT_TRUE(Click("setLabel"));
        EXPECT_TRUE(WaitFor([&] { return Stored().m_fields.front().m_label == "Home score"; }))
            << Message().toStdString();
        EXPECT_EQ(m_list->Item(QStringLiteral("home"))->text(CFieldList::kName),
                  QStringLiteral("Home score (home)"));

        // A field added by hand, with its page, is taken up, and the next change made here keeps
        // it.
        CFieldDefinitions byHand = Stored();
        byHand.m_fields.push_back({QStringLiteral("away"), 2, 16, 1, 1, {{2, 11, "AWAY"}}});
        QString error;
        ASSERT_TRUE(byHand.Save(m_window->Path(), &error)) << error.toStdString();
        ASSERT_TRUE(WaitFor([&] { return m_list->Item(QStringLiteral("away")) != nullptr; }));
        m_list->Select(QStringLiteral("home"));
        ASSERT_TRUE(Click("label"));
        ASSERT_TRUE(CXdoTool::Key(*m_window, QStringLiteral("ctrl+a")));
        ASSERT_TRUE(CXdoTool::Type(*m_window, QStringLiteral("Home")));
        ASSERT_TRUE(CXdoTool::Key(*m_window, QStringLiteral("Return")));
        EXPECT_TRUE(WaitFor([&] { return Stored().m_fields.front().m_label == "Home"; }));
        const CFieldDefinitions::Field labelled{QStringLiteral("home"), 2, 6, 2, 1, {}, "Home"};
        EXPECT_EQ(Stored().m_fields,
                  (std::vector<CFieldDefinitions::Field>{labelled, byHand.m_fields.back()}));
        byHand.m_fields.pop_back();
        ASSERT_TRUE(byHand.Save(m_window->Path(), &error)) << error.toStdString();
        ASSERT_TRUE(WaitFor([&] { return m_list->Item(QStringLiteral("away")) == nullptr; }));

        // A table over rows 5-7, its second column from the click at column 11.
        ASSERT_TRUE(Click("table"));
        ASSERT_TRUE(CXdoTool::Drag(*m_overlay, Cell(0, 4), Cell(11, 6)));
        ASSERT_TRUE(CXdoTool::Click(*m_overlay, Cell(10, 5)));
        ASSERT_TRUE(CXdoTool::Type(*m_window, QStringLiteral("players")));
        ASSERT_TRUE(CXdoTool::Key(*m_window, QStringLiteral("Return")));
        ASSERT_TRUE(WaitFor([&] { return !Stored().m_tables.empty(); })) << Message().toStdString();
        const std::vector<CFieldDefinitions::Column> columns{{QStringLiteral("col1"), 1, 10},
                                                             {QStringLiteral("col2"), 11, 2}};
        EXPECT_EQ(Stored().m_tables, (std::vector<CFieldDefinitions::Table>{
                                         {QStringLiteral("players"), 5, 7, columns, {}}}));
        EXPECT_TRUE(WaitFor([&] {
            return Value(QStringLiteral("players"), 2) == QLatin1String("Brown | 21");
        })) << Value(QStringLiteral("players"), 2).toStdString();
        EXPECT_EQ(Get(Url(port, QStringLiteral("/tables/players.csv"))),
                  "col1,col2\r\nSmith,12\r\nJones,8\r\nBrown,21\r\n");
        EXPECT_FALSE(Url(port, QStringLiteral("/fields/events")).isEmpty());

        // Selected with a click, dragged one column right, then deleted.
        ASSERT_TRUE(CXdoTool::Click(*m_overlay, Cell(5, 1)));
        EXPECT_TRUE(WaitFor([&] { return m_list->SelectedName() == QLatin1String("home"); }));
        ASSERT_TRUE(CXdoTool::Drag(*m_overlay, Cell(5, 1), Cell(6, 1)));
        EXPECT_TRUE(WaitFor([&] {
            const CFieldDefinitions stored = Stored();
            return !stored.m_fields.empty() && stored.m_fields.front().m_column == 7;
        })) << Message().toStdString();
        ASSERT_TRUE(Click("delete"));
        EXPECT_TRUE(WaitFor([&] { return Stored().m_fields.empty(); })) << Message().toStdString();
        EXPECT_EQ(Stored().m_tables.size(), 1u);
        Dialog().reject();
    });
}

// A file that cannot be used stays as it is, with its problem shown, until the operator stores
// a change; one that breaks a rule is refused with the reason.
TEST_F(FieldsDlgTest, KeepsABadFileUntilTheOperatorStoresAChange) {
    const QByteArray broken =
        R"({"version": 1, "fields": [{"name": "x", "row": 43, "column": 1, "width": 1}]})";
    const QString path = m_dir.File(QStringLiteral("fields.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(broken) == broken.size());
    file.close();
    const auto read = [&] {
        QFile stored(path);
        return stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray();
    };
    WriteSettings();
    CModalAnswerer startup(CModalAnswerer::Ok); // the station's own word on the file
    Send(kScreen);
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());
        EXPECT_TRUE(Message().contains(QDir::toNativeSeparators(path)) &&
                    Message().contains(QStringLiteral(R"(field "x": "row")")))
            << Message().toStdString();

        ASSERT_TRUE(Mark({0, 1}, {3, 1}, QStringLiteral("Home")));
        EXPECT_TRUE(WaitFor([&] { return Message().startsWith(QStringLiteral("Not changed")); }))
            << Message().toStdString();
        EXPECT_EQ(read(), broken);

        ASSERT_TRUE(CXdoTool::Key(*m_window, QStringLiteral("ctrl+a")));
        ASSERT_TRUE(CXdoTool::Type(*m_window, QStringLiteral("home")));
        ASSERT_TRUE(CXdoTool::Key(*m_window, QStringLiteral("Return")));
        EXPECT_TRUE(WaitFor([&] { return !Stored().m_fields.empty(); })) << Message().toStdString();
        EXPECT_TRUE(
            WaitFor([&] { return Value(QStringLiteral("home")) == QLatin1String("HOME"); }));
        Dialog().reject();
    });
    EXPECT_EQ(startup.Messages().size(), 1);
}

// A file that could not be used, mended by hand while the window is open: taken up, and the
// window no longer says a change made there would replace it.
TEST_F(FieldsDlgTest, AFileMendedByHandIsTakenUp) {
    const QString path = m_dir.File(QStringLiteral("fields.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("{") == 1);
    file.close();
    WriteSettings();
    CModalAnswerer startup(CModalAnswerer::Ok);
    Send(kScreen);
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());
        EXPECT_TRUE(Message().endsWith(QStringLiteral("A change made here replaces the file.")))
            << Message().toStdString();
        CFieldDefinitions mended;
        mended.m_fields.push_back({QStringLiteral("home"), 2, 6, 2, 1, {}});
        QString error;
        ASSERT_TRUE(mended.Save(path, &error)) << error.toStdString();
        EXPECT_TRUE(WaitFor([&] { return Value(QStringLiteral("home")) == QLatin1String("12"); }));
        EXPECT_TRUE(Message().startsWith(QStringLiteral("Drag over the screen")))
            << Message().toStdString();
        Dialog().reject();
    });
}

// A change that cannot be stored is not made, and says so; the file named in the settings and
// not there is named once at start-up.
TEST_F(FieldsDlgTest, AFailedStoreChangesNothing) {
    const QString path = m_dir.File(QStringLiteral("missing/fields.json"));
    WriteSettings({{QStringLiteral("fields_file"), path}});
    CModalAnswerer startup(CModalAnswerer::Ok);
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());
        ASSERT_TRUE(Mark({0, 0}, {3, 0}, QStringLiteral("home")));
        EXPECT_TRUE(WaitFor([&] { return Message().startsWith(QStringLiteral("Not changed")); }))
            << Message().toStdString();
        EXPECT_TRUE(Message().contains(QDir::toNativeSeparators(path))) << Message().toStdString();
        EXPECT_EQ(m_list->topLevelItemCount(), 0);
        EXPECT_TRUE(Dialog().Station().Fields().Definitions().IsEmpty());
        Dialog().reject();
    });
    ASSERT_EQ(startup.Messages().size(), 1);
    EXPECT_TRUE(startup.Messages()[0].m_text.contains(QDir::toNativeSeparators(path) +
                                                      QStringLiteral(" does not exist")))
        << startup.Messages()[0].m_text.toStdString();
}

// A field bound to its page: the heading offered when it is made, taken away, then the text
// clicked or dragged over on the screen; the list follows the page shown.
TEST_F(FieldsDlgTest, BindsAFieldToTheTextThatNamesItsPage) {
    WriteSettings();
    Send("\x1b+\x1b`;" + At(1, 3) + "SHOTS" + At(1, 20) + "1ST" + At(2, 1) + "HOME 12   AWAY 7" +
         At(4, 5) + "PERIOD 2");
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());
        const auto when = [&] {
            const CFieldDefinitions stored = Stored();
            return stored.m_fields.empty() ? std::nullopt : stored.m_fields.front().m_when;
        };
        const auto page = [&] {
            const QTreeWidgetItem* item = m_list->Item(QStringLiteral("home"));
            return item ? item->text(CFieldList::kPage) : QString();
        };
        ASSERT_TRUE(Mark({5, 1}, {6, 1}, QStringLiteral("home")));
        auto* offer = m_window->findChild<QPushButton*>(QStringLiteral("offer"));
        ASSERT_TRUE(WaitFor([&] { return offer->isVisible(); })) << Message().toStdString();
        EXPECT_EQ(offer->text(), QStringLiteral(R"(home only while "SHOTS" shows)"));
        ASSERT_TRUE(CXdoTool::Click(*offer));
        EXPECT_TRUE(WaitFor([&] { return when().has_value(); })) << Message().toStdString();
        EXPECT_EQ(when(), (CFieldDefinitions::When{1, 3, QStringLiteral("SHOTS")}));
        EXPECT_FALSE(offer->isVisible());

        ASSERT_TRUE(Click("anyPage"));
        EXPECT_TRUE(WaitFor([&] { return !when(); })) << Message().toStdString();
        EXPECT_TRUE(WaitFor([&] { return page() == QLatin1String("every page"); }));

        // A click takes the whole run of text under it.
        ASSERT_TRUE(Click("pickPage"));
        ASSERT_TRUE(CXdoTool::Click(*m_overlay, Cell(11, 1)));
        const CFieldDefinitions::When away{2, 11, QStringLiteral("AWAY 7")};
        EXPECT_TRUE(WaitFor([&] { return when() == away; })) << Message().toStdString();

        // Dragged loosely: from the blank row above and before the text to past it.
        ASSERT_TRUE(Click("pickPage"));
        ASSERT_TRUE(CXdoTool::Drag(*m_overlay, Cell(1, 2), Cell(14, 3)));
        const CFieldDefinitions::When period{4, 5, QStringLiteral("PERIOD 2")};
        EXPECT_TRUE(WaitFor([&] { return when() == period; })) << Message().toStdString();
        EXPECT_TRUE(WaitFor([&] { return page() == QLatin1String(R"("PERIOD 2": shown)"); }))
            << page().toStdString();

        // Another page: the value read on its own page stays, marked not shown.
        m_pty.Write("\x1b+" + At(1, 3) + "GOALS" + At(2, 1) + "HOME 15");
        EXPECT_TRUE(WaitFor([&] { return page() == QLatin1String(R"("PERIOD 2": not shown)"); }))
            << page().toStdString();
        EXPECT_EQ(Value(QStringLiteral("home")), QStringLiteral("12"));
        // Moving still works once the page is set.
        ASSERT_TRUE(CXdoTool::Drag(*m_overlay, Cell(5, 1), Cell(6, 1)));
        EXPECT_TRUE(WaitFor([&] {
            const CFieldDefinitions stored = Stored();
            return !stored.m_fields.empty() && stored.m_fields.front().m_column == 7;
        })) << Message().toStdString();
        Dialog().reject();
    });
}

// The folder chosen in the window is written at once, replaces the one before, and is what the
// settings file keeps when the main window closes.
TEST_F(FieldsDlgTest, ChoosesTheFieldsFolderAndKeepsItInTheSettings) {
    const QByteArray fields =
        R"({"version": 1, "fields": [{"name": "home", "row": 2, "column": 6, "width": 2}]})";
    QFile file(m_dir.File(QStringLiteral("fields.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(fields) == fields.size());
    file.close();
    const QString first = m_dir.File(QStringLiteral("first"));
    const QString second = m_dir.File(QStringLiteral("second"));
    ASSERT_TRUE(QDir().mkpath(first) && QDir().mkpath(second));
    const auto read = [](const QString& path) {
        QFile text(path);
        return text.open(QIODevice::ReadOnly) ? text.readAll() : QByteArray("(none)");
    };
    const auto choose = [&](const QString& folder) {
        CModalAnswerer answer([&](QWidget& modal) {
            auto* dialog = qobject_cast<QFileDialog*>(&modal);
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
            static_cast<QDialog*>(dialog)->accept(); // what the Choose button does
        });
        EXPECT_TRUE(Click("chooseFolder"));
        EXPECT_TRUE(WaitFor([&] { return answer.Done(); }));
    };
    const auto shown = [&] {
        return m_window->findChild<QLabel*>(QStringLiteral("folder"))->text();
    };
    WriteSettings();
    Send(kScreen);
    RunModally([&] {
        ASSERT_TRUE(OpenFromMenu());
        EXPECT_EQ(shown(), QStringLiteral("off"));
        choose(first);
        EXPECT_TRUE(WaitFor([&] { return read(first + "/home.txt") == "12"; }))
            << Message().toStdString();
        EXPECT_EQ(shown(), QDir::toNativeSeparators(first));

        ASSERT_TRUE(Click("folderOff"));
        EXPECT_TRUE(WaitFor([&] { return shown() == QLatin1String("off"); }));
        ASSERT_TRUE(QFile::remove(first + "/home.txt"));
        choose(second);
        m_pty.Write(At(2, 6) + "13");
        EXPECT_TRUE(WaitFor([&] { return read(second + "/home.txt") == "13"; }))
            << read(second + "/home.txt").toStdString();
        EXPECT_FALSE(QFile::exists(first + "/home.txt"));
        Dialog().close();
    });
    EXPECT_TRUE(SettingsText().contains("fields_folder=" + second.toUtf8() + "\n"))
        << SettingsText().toStdString();
}

} // namespace
