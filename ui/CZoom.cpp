#include "CZoom.h"

#include <QAbstractScrollArea>
#include <QWheelEvent>
#include <algorithm>
#include <array>

namespace {

constexpr std::array<int, 13> kLadder{50, 67, 75, 80, 90, 100, 110, 125, 150, 175, 200, 250, 300};
// One notch of an ordinary mouse wheel.
constexpr int kNotch = 120;

} // namespace

CZoom::CZoom(QAbstractScrollArea* view) : QObject(view), m_view(view), m_base(view->font()) {
    view->viewport()->installEventFilter(this);
}

void CZoom::SetPercent(int percent) {
    percent = std::clamp(percent, kMinPercent, kMaxPercent);
    if (percent == m_percent)
        return;
    const int previous = m_percent;
    m_percent = percent;
    m_view->setFont(FontAt(percent));
    emit Changed(percent, previous);
}

int CZoom::Larger(int percent) {
    const auto* next = std::upper_bound(kLadder.begin(), kLadder.end(), percent);
    return next == kLadder.end() ? kMaxPercent : *next;
}

int CZoom::Smaller(int percent) {
    const auto* next = std::lower_bound(kLadder.begin(), kLadder.end(), percent);
    return next == kLadder.begin() ? kMinPercent : *(next - 1);
}

QFont CZoom::FontAt(int percent) const {
    QFont font = m_base;
    if (m_base.pointSizeF() > 0)
        font.setPointSizeF(m_base.pointSizeF() * percent / 100.0);
    else
        font.setPixelSize(std::max(1, m_base.pixelSize() * percent / 100));
    return font;
}

// Ctrl+wheel sizes the text instead of scrolling; fine-grained wheels and touchpads step once
// per notch's worth of turning.
bool CZoom::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel)
        return QObject::eventFilter(watched, event);
    const auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier)) {
        m_wheel = 0;
        return false;
    }
    m_wheel += wheel->angleDelta().y();
    for (; m_wheel >= kNotch; m_wheel -= kNotch)
        Larger();
    for (; m_wheel <= -kNotch; m_wheel += kNotch)
        Smaller();
    return true;
}
