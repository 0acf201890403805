#include "ExportTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

QByteArray RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    EXPECT_TRUE(finished) << program.toStdString() << " did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0)
        << program.toStdString() << ": " << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

NextModal::NextModal(std::function<void(QWidget*)> handle) : m_timer(new QTimer(qApp)) {
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this, handle = std::move(handle)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        m_timer->stop();
        m_handled = true;
        handle(modal);
    });
    m_timer->start(20);
}

NextModal::~NextModal() {
    delete m_timer;
}
