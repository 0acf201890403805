// The window menu as a screen reader hears it: the program's accessibility bridge on a private
// accessibility bus, read there by an AT-SPI client (atspi-focus.py) while real right-clicks and
// Down keys walk the menu. Runs as the ctest entry ui_window_menu_heard, which provides the bus.
#include "CModalAnswerer.h"
#include "CXdoTool.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <iostream>

namespace {

class WindowMenuHeardTest : public DialogTest {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") ||
            !CXdoTool::Available())
            GTEST_SKIP() << "needs real input and an accessibility bus: ctest -R "
                            "ui_window_menu_heard";
        QObject::connect(&m_listener, &QProcess::readyReadStandardOutput, [this] { Read(); });
        m_listener.start(QStringLiteral(TALLYVIEW_ATSPI_FOCUS),
                         {QString::number(QCoreApplication::applicationPid())});
    }

    void TearDown() override {
        if (HasFailure())
            std::cerr << "AT-SPI listener: " << m_listener.readAllStandardError().toStdString();
        m_listener.kill();
        m_listener.waitForFinished(3000);
    }

    void Read() {
        while (m_listener.canReadLine()) {
            const QByteArray line = m_listener.readLine().trimmed();
            if (line == "ready") {
                m_ready = true;
                continue;
            }
            const QJsonObject focus = QJsonDocument::fromJson(line).object();
            m_heard << focus[QStringLiteral("name")].toString();
            m_menu = focus[QStringLiteral("menu")].toVariant().toStringList();
        }
    }

    // A right-click outside the list, as the mouse gives it.
    void OpenMenu() {
        const QWidget* label = Dialog().Control(CTerminalDlg::IDC_LABEL);
        const QPoint at = label->mapToGlobal(label->rect().center());
        EXPECT_TRUE(
            CXdoTool::Run({QStringLiteral("mousemove"), QString::number(at.x()),
                           QString::number(at.y()), QStringLiteral("click"), QStringLiteral("3")}));
    }

    QProcess m_listener;
    bool m_ready = false;
    QStringList m_heard; // the entries that took the focus, by name
    QStringList m_menu;  // the children of the last one's menu
};

const QString kBar = QStringLiteral(" | ");

// The names a screen reader gives the menu's entries: without the '&' of their keys, a
// separator's empty.
QStringList AccessibleNames(const QMenu& menu) {
    QStringList names;
    for (const QAction* action : menu.actions())
        names << QString(action->text()).remove(QLatin1Char('&'));
    return names;
}

} // namespace

TEST_F(WindowMenuHeardTest, EveryEntryIsAnnouncedInOrderOnEveryOpening) {
    Dialog().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_ready && QAccessible::isActive(); }, 15000));
    for (int opening = 1; opening <= 3; ++opening) {
        SCOPED_TRACE(testing::Message() << "opening " << opening);
        m_heard.clear();
        m_menu.clear();
        QStringList children;
        QStringList entries;
        CModalAnswerer walk([&](QWidget& popup) {
            children = AccessibleNames(*qobject_cast<QMenu*>(&popup));
            entries = children;
            entries.removeAll(QString());
            EXPECT_TRUE(CXdoTool::Run(QStringList{"key", "--delay", "20"} +
                                      QStringList(entries.size(), QStringLiteral("Down"))));
            EXPECT_TRUE(QTest::qWaitFor([&] { return m_heard.size() >= entries.size(); }, 5000));
            EXPECT_TRUE(CXdoTool::Run({QStringLiteral("key"), QStringLiteral("Escape")}));
        });
        OpenMenu();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return walk.Done() && !QApplication::activePopupWidget(); }));
        EXPECT_EQ(m_heard.join(kBar).toStdString(), entries.join(kBar).toStdString());
        EXPECT_EQ(m_menu.join(kBar).toStdString(), children.join(kBar).toStdString());
    }
}
