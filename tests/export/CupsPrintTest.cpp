// Printing through a real CUPS scheduler: the fixture (cups-setup.sh) makes the cups-pdf queue
// TallyviewPDF the default printer and adds TallyviewRefusing, which refuses every job.
#include "CModalAnswerer.h"
#include "CTextPrinter.h"
#include "ExportTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr const char* kQueue = "TallyviewPDF";
constexpr const char* kRefusingQueue = "TallyviewRefusing";

bool QueueExists(const char* name) {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
    cupsFreeDests(dest ? 1 : 0, dest);
    return dest != nullptr;
}

ipp_jstate_t JobState(int jobId) {
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ALL);
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    for (int i = 0; i < count; ++i)
        if (jobs[i].id == jobId)
            state = jobs[i].state;
    cupsFreeJobs(count, jobs);
    return state;
}

bool QueueBusy() {
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(count, jobs);
    return count > 0;
}

// Where cups-pdf puts this user's files: its "Out" setting, ${HOME}/PDF unless changed.
QDir CupsPdfOutput() {
    QString out = QStringLiteral("${HOME}/PDF");
    QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
    if (conf.open(QIODevice::ReadOnly)) {
        const QRegularExpression line(QStringLiteral("^Out\\s+(\\S+)\\s*$"),
                                      QRegularExpression::MultilineOption);
        const QRegularExpressionMatch m = line.match(QString::fromLocal8Bit(conf.readAll()));
        if (m.hasMatch())
            out = m.captured(1);
    }
    const passwd* user = getpwuid(geteuid());
    out.replace(QStringLiteral("${HOME}"), QString::fromLocal8Bit(user->pw_dir));
    out.replace(QStringLiteral("${USER}"), QString::fromLocal8Bit(user->pw_name));
    return QDir(out);
}

// Printing that works shows nothing: any window is a failure, closed so that the test goes on.
void FailAndClose(QWidget& window) {
    const auto* box = qobject_cast<QMessageBox*>(&window);
    ADD_FAILURE() << "unexpected window: "
                  << (box ? box->text() : window.windowTitle()).toStdString();
    window.close();
}

class CupsPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root, to run the CUPS scheduler with its PDF queue";
        ASSERT_TRUE(QueueExists(kQueue)) << "the CUPS fixture did not set up " << kQueue;
        // A name of its own, so the job's output file can be told from earlier ones.
        m_name = QStringLiteral("TallyviewTest%1x%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QDateTime::currentMSecsSinceEpoch());
        QByteArray text;
        for (int i = 0; i < 42; ++i)
            text += QByteArray(132, static_cast<char>('A' + i % 26)) + "\r\n";
        WriteBytes(TextPath(), text);
    }

    QString TextPath() const { return m_dir.filePath(m_name + QStringLiteral(".txt")); }

    QTemporaryDir m_dir;
    QString m_name;
};

} // namespace

TEST_F(CupsPrintTest, DefaultQueueReceivesOnePageJob) {
    CModalAnswerer unexpected(FailAndClose);
    CTextPrinter printer;
    ASSERT_TRUE(printer.PrintToDefault(TextPath())) << printer.LastError().toStdString();
    ASSERT_GT(printer.JobId(), 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return JobState(printer.JobId()) >= IPP_JSTATE_CANCELED; }, 60000));
    EXPECT_EQ(JobState(printer.JobId()), IPP_JSTATE_COMPLETED);

    const QDir out = CupsPdfOutput();
    QStringList files;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            files = out.entryList({m_name + QStringLiteral("*.pdf")}, QDir::Files);
            return !files.isEmpty();
        },
        10000))
        << "no " << m_name.toStdString() << "*.pdf in " << out.path().toStdString();
    ASSERT_EQ(files.size(), 1);
    const QByteArray info = RunTool(QStringLiteral("pdfinfo"), {out.filePath(files[0])});
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Pages:\\s+1$"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(info))
            .hasMatch())
        << info.toStdString();
    QFile::remove(out.filePath(files[0]));
}

TEST_F(CupsPrintTest, RefusedJobIsReported) {
    ASSERT_TRUE(QueueExists(kRefusingQueue));
    // CUPS takes the default printer from PRINTER before its own settings.
    qputenv("PRINTER", kRefusingQueue);
    CModalAnswerer answer(CModalAnswerer::Close);
    CTextPrinter printer;
    const bool printed = printer.PrintToDefault(TextPath());
    qunsetenv("PRINTER");
    EXPECT_FALSE(printed);
    EXPECT_EQ(printer.JobId(), 0);
    ASSERT_TRUE(answer.Done());
    ASSERT_EQ(answer.Messages().size(), 1);
    const CModalAnswerer::Message& shown = answer.Messages().front();
    EXPECT_EQ(shown.m_caption, QStringLiteral("Tallyview"));
    EXPECT_EQ(shown.m_text, printer.LastError());
    EXPECT_TRUE(shown.m_text.contains(QLatin1String(kRefusingQueue))) << shown.m_text.toStdString();
}

namespace {

class DialogPrintTest : public ExportDialogTest {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root, to run the CUPS scheduler with its PDF queue";
        ASSERT_TRUE(QueueExists(kQueue)) << "the CUPS fixture did not set up " << kQueue;
        ExportDialogTest::SetUp();
    }
};

} // namespace

// Print writes the shown rows next to the settings file and the default queue gets them as
// one page.
TEST_F(DialogPrintTest, PrintSendsTheRowsToTheDefaultPrinter) {
    const QDir out = CupsPdfOutput();
    const QStringList pattern{QStringLiteral("TallyviewTemp*.pdf")};
    for (const QString& old : out.entryList(pattern, QDir::Files))
        QFile::remove(out.filePath(old));
    QByteArray rows;
    for (int i = 0; i < 42; ++i)
        rows += FullRow(i);
    ShowRows(rows);
    CModalAnswerer unexpected(FailAndClose);
    Click(CTerminalDlg::IDC_PRINT);

    QByteArray expected;
    for (int i = 0; i < 42; ++i)
        expected += FullRow(i) + "\r\n";
    EXPECT_EQ(ReadFile(m_dir.File(QStringLiteral("TallyviewTemp.txt"))), expected);
    QStringList files;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            files = out.entryList(pattern, QDir::Files);
            return !files.isEmpty() && !QueueBusy();
        },
        60000))
        << "no TallyviewTemp*.pdf in " << out.path().toStdString();
    ASSERT_EQ(files.size(), 1);
    const QByteArray info = RunTool(QStringLiteral("pdfinfo"), {out.filePath(files[0])});
    EXPECT_TRUE(info.contains("\nPages:           1\n")) << info.toStdString();
    QFile::remove(out.filePath(files[0]));
}
