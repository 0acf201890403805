#pragma once

#include <QPlainTextEdit>
#include <QTimer>

class CStation;

// Where the fields go, as text to copy: while sharing is on, the web view's addresses of the
// fields and of every table in each form, with the access code; and the folder of their text
// files. Looked at again every second while shown, as sharing goes on and off elsewhere.
class CFieldAddresses : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kTickMs = 1000;

    CFieldAddresses(CStation& station, QWidget* parent);

    // At once, after a change of the definitions.
    void ShowNow();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QStringList Served() const;

    CStation& m_station;
    QTimer m_tick;
};
