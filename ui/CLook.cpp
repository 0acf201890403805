#include "CLook.h"

#include <QApplication>
#include <QWidget>

namespace {

struct Colours {
    QColor window, text, base, alternate, button, highlight, highlightedText, disabled, link;
};

QPalette MakePalette(const Colours& c) {
    QPalette palette;
    palette.setColor(QPalette::Window, c.window);
    palette.setColor(QPalette::WindowText, c.text);
    palette.setColor(QPalette::Base, c.base);
    palette.setColor(QPalette::AlternateBase, c.alternate);
    palette.setColor(QPalette::Text, c.text);
    palette.setColor(QPalette::Button, c.button);
    palette.setColor(QPalette::ButtonText, c.text);
    palette.setColor(QPalette::BrightText, c.text);
    palette.setColor(QPalette::ToolTipBase, c.base);
    palette.setColor(QPalette::ToolTipText, c.text);
    palette.setColor(QPalette::PlaceholderText, c.disabled);
    palette.setColor(QPalette::Highlight, c.highlight);
    palette.setColor(QPalette::HighlightedText, c.highlightedText);
    palette.setColor(QPalette::Link, c.link);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, c.disabled);
    return palette;
}

} // namespace

CLook& CLook::Instance() {
    static CLook instance;
    return instance;
}

QString CLook::Name(Look look) {
    switch (look) {
    case Look::Classic:
        return QStringLiteral("Classic");
    case Look::Dark:
        return QStringLiteral("Dark");
    case Look::HighContrast:
        return QStringLiteral("High contrast");
    }
    return {};
}

QString CLook::Key(Look look) {
    return Name(look).toLower().remove(QLatin1Char(' '));
}

std::optional<CLook::Look> CLook::FromKey(const QString& key) {
    for (const Look look : All())
        if (Key(look) == key)
            return look;
    return std::nullopt;
}

QPalette CLook::Palette(Look look) {
    switch (look) {
    case Look::Classic:
        return QApplication::palette();
    case Look::Dark:
        // Soft light grey on dark grey: readable for hours without glare.
        return MakePalette({QColor(0x2d, 0x2d, 0x30), QColor(0xdc, 0xdc, 0xdc),
                            QColor(0x1e, 0x1e, 0x1e), QColor(0x26, 0x26, 0x28),
                            QColor(0x3c, 0x3c, 0x40), QColor(0x26, 0x4f, 0x78), Qt::white,
                            QColor(0x80, 0x80, 0x80), QColor(0x6c, 0xb4, 0xee)});
    case Look::HighContrast:
        // White on black with the usual high-contrast accents.
        return MakePalette({Qt::black, Qt::white, Qt::black, Qt::black, Qt::black,
                            QColor(0x1a, 0xeb, 0xff), Qt::black, QColor(0x3f, 0xf2, 0x3f),
                            Qt::yellow});
    }
    return QApplication::palette();
}

void CLook::Set(Look look) {
    m_look = look;
    m_windows.removeAll(nullptr);
    for (QWidget* window : std::as_const(m_windows))
        Apply(window, look);
    emit Changed(look);
}

void CLook::Follow(QWidget* window) {
    m_windows.removeAll(nullptr);
    if (!m_windows.contains(window))
        m_windows.append(window);
    Apply(window, m_look);
}

// Classic clears the window's own palette, so it shows the application's as before.
void CLook::Apply(QWidget* window, Look look) {
    window->setPalette(look == Look::Classic ? QPalette() : Palette(look));
}
