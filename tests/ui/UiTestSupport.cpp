#include "UiTestSupport.h"

#include "PortTestSupport.h"

#include <QFile>
#include <QListWidget>
#include <QTest>
#include <QTimer>

void DialogTest::WriteSettings(const QList<QPair<QString, QString>>& options) const {
    ASSERT_TRUE(
        WriteSettingsFile(SettingsPath(), QString::fromStdString(m_pty.SlavePath()), options));
}

QByteArray DialogTest::SettingsText() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DialogTest::OverwriteSettings(const QByteArray& text) const {
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

CTerminalDlg& DialogTest::Dialog() {
    if (!m_dialog)
        m_dialog = std::make_unique<CTerminalDlg>();
    return *m_dialog;
}

void DialogTest::Send(std::string_view bytes) {
    CTerminalPort& port = Dialog().Port();
    const std::size_t expected = port.PendingSize() + bytes.size();
    m_pty.Write(bytes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.PendingSize() >= expected; }, 5000))
        << "the port received " << port.PendingSize() << " of " << expected << " bytes";
}

QStringList DialogTest::Items() {
    auto* list = qobject_cast<QListWidget*>(Dialog().Control(CTerminalDlg::IDC_LIST));
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

void DialogTest::RunModally(const std::function<void()>& script) {
    QTimer::singleShot(0, &Dialog(), [&] {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
        script();
        QTimer::singleShot(5000, &Dialog(), [&] { Dialog().reject(); }); // never hang
    });
    Dialog().exec();
}
