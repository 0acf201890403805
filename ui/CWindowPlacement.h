#pragma once

#include <QRect>
#include <QString>
#include <optional>

class CTnCommPort;
class QWidget;

// Where the main window was and how big: its normal rectangle and whether it was maximised,
// kept as optional settings keys, so a file without them leaves the window at its template size.
class CWindowPlacement {
public:
    static const QString kRectKey;
    static const QString kMaximisedKey;

    // The window's placement as settings text.
    static void Store(const QWidget& window, CTnCommPort& port);
    // Puts the window where the settings say, when that is on a screen that exists now.
    // Otherwise the window keeps its size and the platform places it.
    static void Restore(QWidget& window, const CTnCommPort& port);
    // The rectangle moved and cut to fit the available area of the screen that holds its
    // centre; nothing when no screen holds it (a monitor since unplugged).
    static std::optional<QRect> OnScreen(const QRect& rect);
    // rect moved, and cut where it is larger, to lie inside area.
    static QRect Inside(const QRect& rect, const QRect& area);

    static QString RectText(const QRect& rect);
    static std::optional<QRect> RectFromText(const QString& text);
};
