#include "CTnCommMonitor.h"

#include "CTnCommPort.h"
#include "CTrafficTap.h"

#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>

CTnCommMonitor::CTnCommMonitor(const CTnCommPort& port, CTrafficTap& tap,
                               std::function<QStringList()> states)
    : m_port(port), m_tap(tap), m_states(std::move(states)), m_record(QStringLiteral("&Record...")),
      m_stop(QStringLiteral("&Stop")) {
    setWindowTitle(QStringLiteral("Tallyview - Line Monitor"));
    m_state.setObjectName(QStringLiteral("state"));
    m_state.setWordWrap(true);
    m_state.setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_count.setObjectName(QStringLiteral("count"));
    m_view.setObjectName(QStringLiteral("view"));
    m_view.setReadOnly(true);
    m_view.setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view.setMaximumBlockCount(kMaxLines);
    m_view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_record.setObjectName(QStringLiteral("record"));
    m_stop.setObjectName(QStringLiteral("stop"));
    m_stop.setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(&m_count, 1);
    buttons->addWidget(&m_record);
    buttons->addWidget(&m_stop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&m_state);
    layout->addWidget(&m_view, 1);
    layout->addLayout(buttons);
    resize(760, 420);

    m_timer.setInterval(kFlushMs);
    connect(&m_timer, &QTimer::timeout, this, &CTnCommMonitor::Flush);
    connect(&m_record, &QPushButton::clicked, this, &CTnCommMonitor::OnRecord);
    connect(&m_stop, &QPushButton::clicked, this, &CTnCommMonitor::StopRecording);
}

QString CTnCommMonitor::FormatLine(const QString& time, QByteArrayView bytes) {
    QString hex;
    QString chars;
    for (const char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        hex += QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        chars += byte >= 0x20 && byte < 0x7F ? QLatin1Char(ch) : QLatin1Char('.');
    }
    return time + QStringLiteral("  ") + hex.leftJustified(kBytesPerLine * 3) + QLatin1Char(' ') +
           chars;
}

void CTnCommMonitor::showEvent(QShowEvent* event) {
    m_tap.SetWatching(true);
    m_timer.start();
    UpdateStatus();
    QWidget::showEvent(event);
}

void CTnCommMonitor::hideEvent(QHideEvent* event) {
    m_timer.stop();
    m_tap.SetWatching(false);
    QWidget::hideEvent(event);
}

void CTnCommMonitor::Flush() {
    const CTrafficTap::Batch batch = m_tap.Take();
    QStringList lines;
    if (batch.m_skipped > 0)
        lines << QStringLiteral("... %1 bytes not shown ...").arg(batch.m_skipped);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    const QByteArrayView bytes(batch.m_bytes);
    for (qsizetype i = 0; i < bytes.size(); i += kBytesPerLine)
        lines << FormatLine(time,
                            bytes.sliced(i, std::min<qsizetype>(kBytesPerLine, bytes.size() - i)));
    if (!lines.isEmpty())
        m_view.appendPlainText(lines.join(QLatin1Char('\n')));
    UpdateStatus();
}

void CTnCommMonitor::UpdateStatus() {
    QStringList lines = m_port.LineStatus() + m_states();
    if (const QString extra = m_statusHook ? m_statusHook() : QString(); !extra.isEmpty())
        lines << extra;
    m_state.setText(lines.join(QLatin1Char('\n')));

    QString count = QStringLiteral("Received: %1 bytes").arg(m_tap.Total());
    if (m_tap.IsRecording())
        count +=
            QStringLiteral("   Recording to %1: %2 bytes").arg(m_capturePath).arg(m_tap.Recorded());
    else if (!m_capturePath.isEmpty())
        StopRecording(); // a write failure ended the recording
    m_count.setText(count);
}

void CTnCommMonitor::SetStatusHook(std::function<QString()> hook) {
    m_statusHook = std::move(hook);
    UpdateStatus();
}

void CTnCommMonitor::OnRecord() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Record the line to a capture file"),
                                     QDir::home().filePath(QStringLiteral("tallyview.cap")),
                                     QStringLiteral("Captures (*.cap);;All files (*)"));
    if (!path.isEmpty())
        StartRecording(path);
}

bool CTnCommMonitor::StartRecording(const QString& path) {
    QString error;
    if (!m_tap.StartRecording(path, error)) {
        ShowProblem(QStringLiteral("Cannot record to %1: %2").arg(path, error));
        return false;
    }
    m_capturePath = path;
    m_record.setEnabled(false);
    m_stop.setEnabled(true);
    UpdateStatus();
    return true;
}

void CTnCommMonitor::StopRecording() {
    QString error;
    const bool complete = m_tap.StopRecording(error);
    const QString path = std::exchange(m_capturePath, {});
    m_record.setEnabled(true);
    m_stop.setEnabled(false);
    if (!complete)
        ShowProblem(QStringLiteral("The capture %1 is incomplete: %2").arg(path, error));
}

void CTnCommMonitor::ShowProblem(const QString& text) {
    QMessageBox::warning(this, QStringLiteral("Tallyview"), text);
}
