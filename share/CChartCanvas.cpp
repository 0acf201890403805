#include "CChartCanvas.h"

QString CChartCanvas::Color::Name() const {
    return QStringLiteral("#%1%2%3")
        .arg(m_red, 2, 16, QLatin1Char('0'))
        .arg(m_green, 2, 16, QLatin1Char('0'))
        .arg(m_blue, 2, 16, QLatin1Char('0'));
}
