#include "CAboutDlg.h"

#include "CAppResources.h"
#include "CDialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>

namespace {

constexpr QSize kTemplateSize{235, 126};
constexpr QRect kIconRect{11, 17, 20, 20};
constexpr QRect kOkRect{178, 17, 50, 14};
constexpr int kIconPixels = 32;

struct TextTemplate {
    const char* text;
    QRect rect; // left, top, width, height in dialog units
};

constexpr std::array<TextTemplate, 5> kTexts{{
    {"Benchline Emulator Version 1.0", {40, 10, 130, 8}},
    {"Property of the venue's statistics service.", {40, 25, 119, 20}},
    {"Note: Leave this program running during the game.", {10, 55, 160, 8}},
    {"Lines missing from the display can be sent again by the statistics operator from the "
     "statistics computer.",
     {10, 70, 215, 18}},
    {"When using the Print or Copy command, it is best to have the page setup defaulted to "
     "'Portrait' and the font defaulted to a fixed width font like 'Courier New'",
     {10, 95, 220, 25}},
}};

// A substitute for the template's font may set a line wider than the template allows: a one-line
// text then widens its control to the right, as far as the box's margin, rather than being cut.
QRect FitOneLine(const QLabel& label, QRect rect, int rightLimit) {
    const QFontMetrics metrics(label.font());
    if (rect.height() >= 2 * metrics.height())
        return rect;
    const int needed = metrics.horizontalAdvance(label.text()) + 1;
    rect.setWidth(std::max(rect.width(), std::min(needed, rightLimit - rect.left())));
    return rect;
}

constexpr Qt::WindowFlags kWindowFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent, kWindowFlags) {
    setWindowTitle(QStringLiteral("About Tallyview"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    const QIcon icon = CAppResources::Icon();
    setWindowIcon(icon);
    const CDialogUnits units(font());
    const QSize size = units.Map(kTemplateSize);

    // An icon control takes the size of its icon, placed at the template's corner.
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(icon.pixmap(kIconPixels));
    iconLabel->setGeometry(QRect(units.Map(kIconRect).topLeft(), QSize(kIconPixels, kIconPixels)));

    for (const TextTemplate& t : kTexts) {
        auto* label = new QLabel(QString::fromLatin1(t.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        label->setGeometry(
            FitOneLine(*label, units.Map(t.rect), size.width() - units.ToX(t.rect.left())));
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(kOkButtonId));
    ok->setDefault(true);
    ok->setGeometry(units.Map(kOkRect));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(size);
}
