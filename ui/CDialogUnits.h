#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Dialog templates give positions in dialog units, which scale with the dialog's font: a
// horizontal unit is a quarter of the font's average letter width, a vertical unit an eighth of
// its height. The base units come from the font actually in use, since a template's font may be
// substituted by another on this system.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    QSize Base() const { return m_base; }
    int ToX(int dlu) const { return (dlu * m_base.width() + 2) / 4; }
    int ToY(int dlu) const { return (dlu * m_base.height() + 4) / 8; }
    QRect Map(const QRect& dlu) const;
    QSize Map(QSize dlu) const { return {ToX(dlu.width()), ToY(dlu.height())}; }

private:
    QSize m_base;
};
