// What the main window says about the journal: a restored screen in its title until the line
// speaks, and one message box when the journal cannot write.
#include "CJournalFolder.h"
#include "CModalAnswerer.h"
#include "CTtyrecRecord.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

const QString kTitle = QStringLiteral("Korvane Benchline Emulator");

TEST_F(DialogTest, TitleSaysTheScreenIsRestoredUntilTheFirstByteArrives) {
    const QString folder = m_dir.File(QStringLiteral("journal"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QDateTime last = QDateTime::currentDateTime().addSecs(-600);
    std::string journal;
    CTtyrecRecord::Encode(CJournalFolder::ToTime(last.addSecs(-60)), "\x1b+", journal);
    CTtyrecRecord::Encode(CJournalFolder::ToTime(last),
                          "\x1b"
                          "a3R1CGULLS 3",
                          journal);
    QFile file(CJournalFolder(folder).NewFile(last.addSecs(-60)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(journal.data(), qint64(journal.size()));
    file.close();
    WriteSettings();

    EXPECT_EQ(Dialog().windowTitle(), kTitle + QStringLiteral(" - restored from ") +
                                          last.toString(QStringLiteral("HH:mm:ss")));
    Refresh();
    ASSERT_GE(Items().size(), 3);
    EXPECT_TRUE(Items()[2].startsWith(QLatin1String("GULLS 3")));
    Send("x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Dialog().windowTitle() == kTitle; }));
}

TEST_F(DialogTest, JournalThatCannotWriteSaysSoOnceAndTheScreenGoesOn) {
    QFile blocker(m_dir.File(QStringLiteral("journal"))); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    WriteSettings();
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    Dialog();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Messages().isEmpty(); }));
    Send("\x1b"
         "a1R1Cstill live");
    QTest::qWait(1500); // three more looks at the journal, which is still stopped
    Refresh();
    EXPECT_EQ(Dialog().windowTitle(), kTitle);
    ASSERT_EQ(answerer.Texts().size(), 1);
    EXPECT_TRUE(answerer.Texts()[0].startsWith(QLatin1String("The journal stopped: the folder")))
        << answerer.Texts()[0].toStdString();
    ASSERT_FALSE(Items().isEmpty());
    EXPECT_TRUE(Items()[0].startsWith(QLatin1String("still live")));
}

} // namespace
