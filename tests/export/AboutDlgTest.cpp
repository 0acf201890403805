#include "CAboutDlg.h"
#include "CAppResources.h"
#include "CModalAnswerer.h"
#include "ExportTestSupport.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QStringList kFixedTexts{
    QStringLiteral("Benchline Emulator Version 1.0"),
    QStringLiteral("Note: Leave this program running during the game."),
    QStringLiteral("When using the Print or Copy command, it is best to have the page setup "
                   "defaulted to 'Portrait' and the font defaulted to a fixed width font like "
                   "'Courier New'"),
};

QPushButton* OkButton(QWidget* dialog) {
    return dialog->findChild<QPushButton*>(QString::number(CAboutDlg::kOkButtonId));
}

QStringList Texts(const QWidget& dialog) {
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts << label->text();
    return texts;
}

} // namespace

TEST(AboutDlg, ShowsItsTextsAndClosesWithOk) {
    CAboutDlg dialog;
    QStringList shown;
    QString caption;
    CModalAnswerer closer([&](QWidget& modal) {
        caption = modal.windowTitle();
        shown = Texts(modal);
        QTest::mouseClick(OkButton(&modal), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    ASSERT_TRUE(closer.Done());
    EXPECT_EQ(caption, QStringLiteral("About Tallyview"));
    for (const QString& text : kFixedTexts)
        EXPECT_TRUE(shown.contains(text)) << text.toStdString();
    // The owner notice and the hint about data sent again.
    EXPECT_EQ(shown.size(), 5);
}

TEST(AboutDlg, EnterPressesOk) {
    CAboutDlg dialog;
    CModalAnswerer closer([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(closer.Done());
}

TEST(AboutDlg, ShowsTheApplicationIcon) {
    CAboutDlg dialog;
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_TRUE(dialog.windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(dialog.windowIcon().availableSizes().contains(QSize(32, 32)));
    int pictures = 0;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        pictures += label->pixmap().isNull() ? 0 : 1;
    EXPECT_EQ(pictures, 1);
}

// The template's font is replaced by whatever this system has; the layout follows that font,
// so every text must still fit whole in its control and every control in the box.
TEST(AboutDlg, EveryTextFitsWithTheSubstitutedFont) {
    CAboutDlg dialog;
    const QRect client = dialog.rect();
    for (const QWidget* child : dialog.findChildren<QWidget*>()) {
        EXPECT_TRUE(client.contains(child->geometry()))
            << child->metaObject()->className() << " outside the box";
    }
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const QRect needed =
            QFontMetrics(label->font())
                .boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, label->text());
        EXPECT_LE(needed.height(), label->height()) << label->text().toStdString();
        EXPECT_LE(needed.width(), label->width()) << label->text().toStdString();
    }
    const QPushButton* ok = OkButton(&dialog);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_LE(QFontMetrics(ok->font()).horizontalAdvance(ok->text()), ok->width());
}

TEST(AppResources, VersionOfThisRelease) {
    EXPECT_EQ(CAppResources::Version(), "1.0.0.1");
}

// Every size the desktop and the window frames ask for is there and really has that size.
TEST(AppResources, IconImageForEverySize) {
    const QIcon icon = CAppResources::Icon();
    const QList<QSize> available = icon.availableSizes();
    for (const int size : CAppResources::kIconSizes) {
        EXPECT_TRUE(available.contains(QSize(size, size))) << size;
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        EXPECT_EQ(pixmap.size(), QSize(size, size)) << size;
        EXPECT_FALSE(pixmap.toImage().allGray()) << size << ": blank or grey picture";
    }
}
