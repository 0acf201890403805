#include "CWindowPlacement.h"

#include "CSettingsKeys.h"
#include "CTnCommPort.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

const QString CWindowPlacement::kRectKey = QLatin1String(CSettingsKeys::kWindow);
const QString CWindowPlacement::kMaximisedKey = QLatin1String(CSettingsKeys::kMaximised);

void CWindowPlacement::Store(const QWidget& window, CTnCommPort& port) {
    port.SetOption(kRectKey, RectText(window.normalGeometry()));
    port.SetOption(kMaximisedKey, window.isMaximized() ? QStringLiteral("1") : QStringLiteral("0"));
}

void CWindowPlacement::Restore(QWidget& window, const CTnCommPort& port) {
    const std::optional<QRect> stored = RectFromText(port.Option(kRectKey));
    const std::optional<QRect> placed = stored ? OnScreen(*stored) : std::nullopt;
    if (!placed)
        return;
    window.setGeometry(*placed);
    if (port.Option(kMaximisedKey) == QLatin1String("1"))
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

std::optional<QRect> CWindowPlacement::OnScreen(const QRect& rect) {
    const QScreen* screen = QGuiApplication::screenAt(rect.center());
    if (!screen)
        return std::nullopt;
    return Inside(rect, screen->availableGeometry());
}

QRect CWindowPlacement::Inside(const QRect& rect, const QRect& area) {
    QRect placed(rect.topLeft(), rect.size().boundedTo(area.size()));
    placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), area.top(), area.bottom() + 1 - placed.height()));
    return placed;
}

QString CWindowPlacement::RectText(const QRect& rect) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

// Four whole numbers, a positive size; anything else is no placement at all.
std::optional<QRect> CWindowPlacement::RectFromText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}
