#include "CTnCommPort.h"

#include "CLineReaderFactory.h"
#include "CSettingsArchive.h"

#include <QSemaphore>

namespace {

// Settings-file keys.
const QString kDevice = QStringLiteral("device");
const QString kBaud = QStringLiteral("baud");
const QString kDataBits = QStringLiteral("databits");
const QString kParity = QStringLiteral("parity");
const QString kStopBits = QStringLiteral("stopbits");
const QString kFlow = QStringLiteral("flow");
const QStringList kPortKeys{kDevice, kBaud, kDataBits, kParity, kStopBits, kFlow};

template <typename T>
void StoreChoice(CSettingsArchive& archive, const QString& key,
                 std::span<const CPortSettings::Choice<T>> choices, T value) {
    const auto* choice = CPortSettings::Find(choices, value);
    archive.Write(key, choice ? QLatin1String(choice->m_key) : QString());
}

template <typename T>
void LoadChoice(CSettingsArchive& archive, const QString& key,
                std::span<const CPortSettings::Choice<T>> choices, T& value) {
    const std::optional<QString> text = archive.Read(key);
    if (!text)
        return;
    if (const std::optional<T> found = CPortSettings::FromKey(choices, *text))
        value = *found;
    else
        archive.Fail(QStringLiteral("\"%1\" is not a valid %2 setting").arg(text->left(40), key));
}

} // namespace

CTnCommPort::CTnCommPort() = default;

CTnCommPort::~CTnCommPort() {
    Close();
    if (m_reader)
        m_reader->deleteLater(); // the thread deletes it on its way out
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
}

CTnCommPort& CTnCommPort::operator=(const CTnCommPort& other) {
    m_settings = other.m_settings;
    m_options = other.m_options;
    return *this;
}

QString CTnCommPort::Option(const QString& key, const QString& fallback) const {
    return m_options.value(key, fallback);
}

void CTnCommPort::SetOption(const QString& key, const QString& value) {
    QString line = value;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_options.insert(key.toLower(), line);
}

void CTnCommPort::Serialize(CSettingsArchive& archive) {
    if (archive.IsStoring()) {
        archive.Write(kDevice, m_settings.m_device);
        archive.Write(kBaud, QString::number(m_settings.m_baud));
        StoreChoice(archive, kDataBits, CPortSettings::DataBitsChoices(), m_settings.m_dataBits);
        StoreChoice(archive, kParity, CPortSettings::ParityChoices(), m_settings.m_parity);
        StoreChoice(archive, kStopBits, CPortSettings::StopBitsChoices(), m_settings.m_stopBits);
        StoreChoice(archive, kFlow, CPortSettings::FlowChoices(), m_settings.m_flow);
        for (auto it = m_options.cbegin(); it != m_options.cend(); ++it)
            archive.Write(it.key(), it.value());
        return;
    }
    // Nothing of a file with a problem is taken over.
    CPortSettings loaded;
    loaded.m_device = archive.Read(kDevice).value_or(QString());
    if (const std::optional<QString> baud = archive.Read(kBaud)) {
        bool ok = false;
        loaded.m_baud = baud->toInt(&ok);
        if (!ok || loaded.m_baud <= 0)
            archive.Fail(QStringLiteral("the baud rate \"%1\" is not a positive whole number")
                             .arg(baud->left(40)));
    }
    LoadChoice(archive, kDataBits, CPortSettings::DataBitsChoices(), loaded.m_dataBits);
    LoadChoice(archive, kParity, CPortSettings::ParityChoices(), loaded.m_parity);
    LoadChoice(archive, kStopBits, CPortSettings::StopBitsChoices(), loaded.m_stopBits);
    LoadChoice(archive, kFlow, CPortSettings::FlowChoices(), loaded.m_flow);
    if (!archive.Failed() && !loaded.Problem().isEmpty())
        archive.Fail(loaded.Problem());
    if (archive.Failed())
        return;
    m_settings = loaded;
    m_options.clear();
    for (const QString& key : archive.Keys())
        if (!kPortKeys.contains(key))
            m_options.insert(key, *archive.Find(key));
}

bool CTnCommPort::Open() {
    if (m_open)
        return true;
    // Waited for here rather than through this thread's events: the caller may run none.
    QSemaphore finished;
    bool opened = false;
    const CLineReader::State state = StartOpen([&](bool outcome) {
        opened = outcome;
        finished.release();
    });
    if (state == CLineReader::State::Opening)
        finished.acquire();
    else
        opened = state != CLineReader::State::Closed;
    m_open = opened;
    return m_open;
}

void CTnCommPort::BeginOpen(const std::function<void(bool opened)>& done) {
    if (m_open) {
        done(true);
        return;
    }
    const quint64 attempt = ++m_attempt;
    const CLineReader::State state = StartOpen([this, attempt, done](bool opened) {
        QMetaObject::invokeMethod(&m_owner,
                                  [this, attempt, opened, done] { Opened(attempt, opened, done); });
    });
    m_opening = state == CLineReader::State::Opening;
    if (m_opening)
        return;
    m_open = state != CLineReader::State::Closed;
    done(m_open);
}

void CTnCommPort::Opened(quint64 attempt, bool opened, const std::function<void(bool)>& done) {
    if (attempt != m_attempt || !m_opening)
        return; // closed, or opened again, meanwhile
    m_opening = false;
    m_open = opened;
    done(opened);
}

CLineReader::State CTnCommPort::StartOpen(CLineReader::Outcome outcome) {
    if (m_opening)
        Close();
    ReplaceReader();
    CLineReader::State state = CLineReader::State::Closed;
    const CPortSettings settings = m_settings;
    QMetaObject::invokeMethod(
        m_reader, [&] { state = m_reader->OpenLine(settings, std::move(outcome)); },
        Qt::BlockingQueuedConnection);
    return state;
}

bool CTnCommPort::Close() {
    if (m_reader)
        QMetaObject::invokeMethod(
            m_reader, [this] { m_reader->CloseLine(); }, Qt::BlockingQueuedConnection);
    m_open = false;
    m_opening = false;
    return true;
}

bool CTnCommPort::IsOpen() const {
    return m_open;
}

bool CTnCommPort::HandleTerminalData(char) {
    return false;
}

void CTnCommPort::HandleReceived(QByteArrayView) {}

void CTnCommPort::BetweenChunks(const std::function<void()>& action) {
    if (m_reader)
        QMetaObject::invokeMethod(m_reader, action, Qt::BlockingQueuedConnection);
    else
        action();
}

QString CTnCommPort::LastError() const {
    return m_reader ? m_reader->LastError() : QString();
}

CLineReader::State CTnCommPort::DeviceState() const {
    return m_reader ? m_reader->CurrentState() : CLineReader::State::Closed;
}

QString CTnCommPort::LineNotice() const {
    return m_reader ? m_reader->Notice() : QString();
}

QString CTnCommPort::LineLink() const {
    return m_reader ? m_reader->Link() : QString();
}

void CTnCommPort::ReplaceReader() {
    // The old reader is closed (Close, or an open that failed), so it delivers nothing any more.
    if (m_reader)
        m_reader->deleteLater();
    m_reader = CLineReaderFactory::Create(m_settings,
                                          [this](QByteArrayView chunk) { HandleReceived(chunk); });
    m_reader->moveToThread(&m_thread);
    if (!m_thread.isRunning()) {
        m_thread.setObjectName(QStringLiteral("line reader"));
        m_thread.start();
    }
}

QStringList CTnCommPort::LineStatus() const {
    const CLineReader::State lineState = DeviceState();
    QStringList lines;
    if (const QString link = LineLink(); !link.isEmpty())
        lines << QStringLiteral("Line %1: %2")
                     .arg(link, lineState == CLineReader::State::Open
                                    ? QStringLiteral("connected")
                                    : CLineReader::StateWords(lineState));
    else
        lines << QStringLiteral("Port %1, %2: %3")
                     .arg(m_settings.m_device.isEmpty() ? QStringLiteral("(none)")
                                                        : m_settings.m_device,
                          m_settings.Summary(), CLineReader::StateWords(lineState));
    if (const QString error = LastError(); !error.isEmpty())
        lines << QStringLiteral("Last error: ") + error;
    if (const QString notice = LineNotice(); !notice.isEmpty())
        lines << QStringLiteral("Line settings: ") + notice;
    return lines;
}
