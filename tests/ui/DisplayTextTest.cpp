#include "DisplayText.h"
#include "ScreenTestSupport.h"

#include <QFont>
#include <QFontMetrics>
#include <QSet>
#include <gtest/gtest.h>
#include <string>

TEST(DisplayText, SomeBytesAsTheyShow) {
    const struct {
        std::string bytes;
        QString shown;
    } cases[] = {
        {"Home 12", QStringLiteral("Home 12")},
        {"\r\n\t", QStringLiteral("\u266A\u25D9\u25CB")},
        {std::string("a\0b", 3), QStringLiteral("a\u25E6b")},
        {"\x7F", QStringLiteral("\u2302")},
        {"\x80\x85\x99\xA0\xE9\xFF", QStringLiteral("\u20AC\u2026\u2122\u00A0\u00E9\u00FF")},
        {"\x81\x8D", QStringLiteral("\u25A1\u25A1")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayText(c.bytes), c.shown) << c.bytes;
}

// One visible character per byte, never a line break, and the same width as every other in
// the window's font, so the columns of a row stay aligned.
TEST(DisplayText, EveryByteIsOneVisibleColumnOfTheWindowFont) {
    const QString all = DisplayText(AllByteValues());
    ASSERT_EQ(all.size(), 256);
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(9);
    const QFontMetrics metrics(font);
    const int column = metrics.horizontalAdvance(QLatin1Char('M'));
    for (int b = 0; b < 256; ++b) {
        const QChar c = all[b];
        EXPECT_TRUE(c.isPrint() || b == 0xA0 || b == 0xAD) << "byte " << b;
        EXPECT_TRUE(metrics.inFont(c)) << "byte " << b;
        EXPECT_EQ(metrics.horizontalAdvance(c), column) << "byte " << b;
    }
    // Only the five byte values Windows-1252 leaves out share a glyph.
    EXPECT_EQ(QSet<QChar>(all.begin(), all.end()).size(), 256 - 4);
}
