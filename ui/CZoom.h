#pragma once

#include <QFont>
#include <QObject>

class QAbstractScrollArea;

// The text size of a view, as a percentage of the font it was built with: steps up and down
// through a fixed ladder, Ctrl+wheel over the view steps too. The view's font follows.
class CZoom : public QObject {
    Q_OBJECT

public:
    static constexpr int kMinPercent = 50;
    static constexpr int kMaxPercent = 300;
    static constexpr int kNormalPercent = 100;

    explicit CZoom(QAbstractScrollArea* view);

    int Percent() const { return m_percent; }
    // Any size between the limits; outside them the nearest limit.
    void SetPercent(int percent);
    void Larger() { SetPercent(Larger(m_percent)); }
    void Smaller() { SetPercent(Smaller(m_percent)); }
    void Normal() { SetPercent(kNormalPercent); }
    // The next step of the ladder above or below percent, or the limit.
    static int Larger(int percent);
    static int Smaller(int percent);
    // The view's font at percent, without applying it.
    QFont FontAt(int percent) const;

signals:
    void Changed(int percent, int previous);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractScrollArea* m_view;
    QFont m_base;
    int m_percent = kNormalPercent;
    int m_wheel = 0; // wheel turn not yet used up by a step, in eighths of a degree
};
