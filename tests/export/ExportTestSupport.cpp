#include "ExportTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

QByteArray FullRow(int index) {
    static const QByteArray alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray row = 'R' + QByteArray::number(index).rightJustified(2, '0');
    for (int i = 0; row.size() < 132; ++i)
        row += alphabet[(index * 5 + i) % alphabet.size()];
    return row;
}

void ExportDialogTest::SetUp() {
    WriteSettings();
    ASSERT_TRUE(Dialog().Port().IsOpen());
}

void ExportDialogTest::ShowRows(const QByteArray& rows) {
    Send("\x1b+\x1b=  \x1b`;" + rows.toStdString());
    Refresh();
}

void ExportDialogTest::Click(int id) {
    qobject_cast<QPushButton*>(Dialog().Control(id))->click();
}

QByteArray ExportDialogTest::ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    // Events go on being handled meanwhile: the tool may be asking this program for the
    // clipboard.
    const bool finished =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
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
