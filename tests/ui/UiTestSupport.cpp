#include "UiTestSupport.h"

#include "CSettingsArchive.h"
#include "CTnCommPort.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

DialogTest::DialogTest() : m_oldDir(QDir::currentPath()) {
    QDir::setCurrent(m_dir.path());
}

DialogTest::~DialogTest() {
    m_dialog.reset();
    QDir::setCurrent(m_oldDir);
}

void DialogTest::WriteSettings() const {
    CPortSettings settings;
    settings.m_device = QString::fromStdString(m_pty.SlavePath());
    CTnCommPort port;
    port.SetSettings(settings);
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    CSettingsArchive archive(file, CSettingsArchive::Mode::Store);
    port.Serialize(archive);
    ASSERT_FALSE(archive.Failed()) << archive.Error().toStdString();
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

ModalAnswers::ModalAnswers(std::initializer_list<bool> accept) : m_accept(accept) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box || Done())
            return;
        if (auto* message = qobject_cast<QMessageBox*>(box))
            m_texts << message->text();
        m_accept[m_next++] ? box->accept() : box->reject();
    });
    m_timer.start(20);
}
