#include "CTextPrinter.h"
#include "ExportTestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

class TextPrinterTest : public ::testing::Test {
protected:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // Prints text into a PDF and returns what pdftotext reads back from it, page breaks as \f.
    QString PrintAndRead(const QByteArray& text, const QStringList& extraArguments = {}) {
        WriteBytes(Path("lines.txt"), text);
        CTextPrinter printer;
        EXPECT_TRUE(printer.PrintToPdf(Path("lines.txt"), Path("lines.pdf")))
            << printer.LastError().toStdString();
        return QString::fromUtf8(
            RunTool(QStringLiteral("pdftotext"),
                    QStringList{QStringLiteral("-enc"), QStringLiteral("UTF-8")}
                        << extraArguments << Path("lines.pdf") << QStringLiteral("-")));
    }

    int Pages() const {
        const QString info = QString::fromUtf8(
            RunTool(QStringLiteral("pdfinfo"), {m_dir.filePath(QStringLiteral("lines.pdf"))}));
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)$"),
                               QRegularExpression::MultilineOption)
                .match(info);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    QTemporaryDir m_dir;
};

QStringList NonEmptyLines(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\n\f]"))))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines;
}

} // namespace

TEST_F(TextPrinterTest, FullScreenFitsOnePageWithEveryRowIntact) {
    QByteArray text;
    QStringList rows;
    for (int i = 0; i < 42; ++i) {
        text += FullRow(i) + "\r\n";
        rows << QString::fromLatin1(FullRow(i));
    }
    const QString read = PrintAndRead(text, {QStringLiteral("-layout")});
    EXPECT_EQ(Pages(), 1);
    EXPECT_EQ(NonEmptyLines(read), rows);
}

// Each 132-column row spans nearly the whole printable width of the portrait page, within the
// margins: the font is sized to the page, neither clipped nor left small.
TEST_F(TextPrinterTest, RowWidthMatchesThePortraitPage) {
    const QString html =
        PrintAndRead(FullRow(0) + "\r\n" + FullRow(1) + "\r\n", {QStringLiteral("-bbox")});
    const QRegularExpressionMatch page =
        QRegularExpression(QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\""))
            .match(html);
    ASSERT_TRUE(page.hasMatch()) << html.toStdString();
    const double width = page.captured(1).toDouble();
    EXPECT_LT(width, page.captured(2).toDouble()) << "not portrait";
    const double margin = CTextPrinter::kMarginMm * kPointsPerMm;
    const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"[\\d.]+\" xMax=\"([\\d.]+)\"[^>]*>([^<]*)<"));
    int words = 0;
    for (const QRegularExpressionMatch& m : word.globalMatch(html)) {
        ++words;
        const double left = m.captured(1).toDouble();
        const double right = m.captured(2).toDouble();
        EXPECT_EQ(m.captured(3).size(), CTextPrinter::kColumns);
        EXPECT_GE(left, margin - 1.0);
        EXPECT_LE(right, width - margin + 1.0);
        EXPECT_GE(right - left, 0.95 * (width - 2 * margin));
    }
    EXPECT_EQ(words, 2);
}

TEST_F(TextPrinterTest, SpacesAndEightBitBytesSurvive) {
    const QString read =
        PrintAndRead("Home  12   Away  9\r\nCaf\xe9 \xbd-time\r\n", {QStringLiteral("-layout")});
    const QStringList lines = NonEmptyLines(read);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].simplified(), QStringLiteral("Home 12 Away 9"));
    EXPECT_EQ(lines[1], QStringLiteral(u"Café ½-time"));
}

// More lines than a page holds (an LF inside a row makes more lines than rows) go on to
// further pages, none lost and none out of order.
TEST_F(TextPrinterTest, LongTextContinuesOnNextPages) {
    QByteArray text;
    QStringList expected;
    for (int i = 0; i < 300; ++i) {
        text += "Line" + QByteArray::number(i) + "\r\n";
        expected << QStringLiteral("Line%1").arg(i);
    }
    const QString read = PrintAndRead(text);
    EXPECT_GE(Pages(), 2);
    EXPECT_EQ(read.count(QLatin1Char('\f')), Pages());
    EXPECT_EQ(NonEmptyLines(read), expected);
}

TEST_F(TextPrinterTest, MissingFileIsReported) {
    CTextPrinter printer;
    EXPECT_FALSE(printer.PrintToPdf(Path("none.txt"), Path("none.pdf")));
    EXPECT_TRUE(printer.LastError().contains(QStringLiteral("none.txt")))
        << printer.LastError().toStdString();
}
