#pragma once

#include <QByteArrayView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

class CTnCommPort;
class CTrafficTap;

// The traffic monitor: a modeless window showing what the line delivers, a line per 16 bytes
// (time, hex, printable characters), the running byte count and the port's state. It looks at
// the line on a timer, so a fast line costs one batch per tick, and keeps a bounded history.
// Record / Stop write the raw received bytes to a capture file.
class CTnCommMonitor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFlushMs = 100;
    static constexpr int kBytesPerLine = 16;
    static constexpr int kMaxLines = 5000;

    // `states` tells what the journal and the line's other listeners are doing, a line each.
    CTnCommMonitor(const CTnCommPort& port, CTrafficTap& tap, std::function<QStringList()> states);

    // "12:00:01.250  48 65 6C 6C 6F 0D  Hello."; bytes holds at most kBytesPerLine.
    static QString FormatLine(const QString& time, QByteArrayView bytes);

    // What the Record button does after the operator chose the file.
    bool StartRecording(const QString& path);
    void StopRecording();

    // A line of the program's own about the line's readers (web viewers and the like), shown
    // under the port's state while not empty.
    void SetStatusHook(std::function<QString()> hook);

    const QPlainTextEdit& View() const { return m_view; }
    QString StateText() const { return m_state.text(); }
    QString CountText() const { return m_count.text(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Flush();
    void UpdateStatus();
    void OnRecord();
    void ShowProblem(const QString& text);

    const CTnCommPort& m_port;
    CTrafficTap& m_tap;
    std::function<QStringList()> m_states;
    QLabel m_state;
    QLabel m_count;
    QPlainTextEdit m_view;
    QPushButton m_record;
    QPushButton m_stop;
    QTimer m_timer;
    QString m_capturePath;
    std::function<QString()> m_statusHook;
};
