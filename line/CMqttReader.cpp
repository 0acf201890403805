#include "CMqttReader.h"

#include "CMqttClient.h"
#include "CMqttRecord.h"
#include "CScreenCommands.h"

namespace {

const QString kOffline = QStringLiteral("the publisher is offline");

} // namespace

CMqttReader::CMqttReader(Sink sink) : CLineReader(std::move(sink)) {}

CMqttReader::~CMqttReader() = default;

CLineReader::State CMqttReader::OpenNow() {
    QString problem;
    m_address = CMqttAddress::Parse(Settings().m_device, problem);
    if (!problem.isEmpty()) {
        SetError(problem);
        return State::Closed;
    }
    SetLink(m_address.Shown());
    m_at.reset();
    m_gap = false;
    m_announced = false;
    m_client = std::make_unique<CMqttClient>(m_address);
    m_client->SetSubscriptions(
        {m_address.Topic("keyframe"), m_address.Topic("line"), m_address.Topic("state")});
    m_client->SetMaxPayload(CMqttRecord::kMaxSize);
    connect(m_client.get(), &CMqttClient::Received, this, &CMqttReader::OnReceived);
    connect(m_client.get(), &CMqttClient::Oversized, this, &CMqttReader::OnOversized);
    connect(m_client.get(), &CMqttClient::Disconnected, this, [this](const QString& reason) {
        if (CurrentState() != State::Opening)
            SetStatus(State::Reconnecting, reason);
    });
    m_client->Start();
    connect(m_client.get(), &CMqttClient::Connected, this, &CMqttReader::OnConnected);
    if (!m_client->IsConnected())
        return State::Opening;
    SetError(QStringLiteral("waiting for the publisher's keyframe"));
    return State::Open;
}

// Like a device server, a broker that cannot be reached now makes the open fail.
QString CMqttReader::OpenTimedOut() const {
    return QStringLiteral("%1: %2").arg(m_address.Shown(), m_client->LastError());
}

void CMqttReader::Retry() {
    // Not used: the client connects again by itself.
}

void CMqttReader::CloseNow() {
    m_client.reset();
}

// Back after a lost connection: records were missed, and the publisher may even have started
// again meanwhile, so the retained keyframe is the start, as at the open.
void CMqttReader::OnConnected() {
    if (m_address.m_nodes.size() > 1)
        SetLink(QStringLiteral("%1 on %2").arg(m_address.Shown(), m_client->Node()));
    if (CurrentState() == State::Opening) {
        OpenDone(State::Open);
        return;
    }
    if (m_at)
        m_gap = true;
    m_at.reset();
    LineBack();
}

void CMqttReader::OnReceived(const QByteArray& topic, const QByteArray& payload) {
    // The screen stays as it is; "online" or the next keyframe says when the publisher is back.
    if (topic == m_address.Topic("state")) {
        if (payload == "offline") {
            SetError(kOffline);
        } else if (payload == "online") {
            m_announced = true;
            // Back after a will its broker sent for a connection it closed: the records may go
            // on without a gap, so no newer keyframe would say it.
            if (LastError() == kOffline)
                SetError(QString());
        }
        return;
    }
    const std::optional<CMqttRecord> record = CMqttRecord::Decode(payload);
    if (!record)
        return; // not something a publisher of ours sent
    if (topic == m_address.Topic("line"))
        OnRecord(*record);
    else
        OnKeyframe(*record);
}

// A keyframe at or below the screen's number (a retained one older than the live records)
// would only take the screen back, unless the publisher began a new session.
void CMqttReader::OnKeyframe(const CMqttRecord& keyframe) {
    const bool anew = BeginsSession(keyframe.m_sequence);
    const bool stale = m_at && keyframe.m_sequence <= *m_at && !anew;
    m_announced = false;
    if (stale)
        return;
    const bool resync = m_at.has_value() || m_gap; // records were skipped to get here
    m_gap = false;
    Deliver(QByteArray::fromStdString(CScreenCommands::EndPending()));
    Deliver(keyframe.m_bytes);
    m_at = keyframe.m_sequence;
    const QString resynchronised =
        QStringLiteral("resynchronised from keyframe %1").arg(keyframe.m_sequence);
    if (anew)
        SetError(QStringLiteral("the publisher began a new session: ") + resynchronised);
    else
        SetError(resync ? resynchronised : QString());
}

bool CMqttReader::BeginsSession(quint64 sequence) const {
    return m_at && sequence < *m_at && (m_announced || *m_at - sequence > kMaxLag);
}

void CMqttReader::OnRecord(const CMqttRecord& record) {
    if (!m_at || record.m_sequence <= *m_at)
        return; // waiting for a keyframe, or a record sent again
    if (record.m_sequence != *m_at + 1) {
        SetError(QStringLiteral("records %1 to %2 were missed: waiting for the next keyframe")
                     .arg(*m_at + 1)
                     .arg(record.m_sequence - 1));
        m_at.reset();
        m_gap = true;
        return;
    }
    Deliver(record.m_bytes);
    m_at = record.m_sequence;
}

// Only its size comes here: the message itself is never copied.
void CMqttReader::OnOversized(const QByteArray& topic, qsizetype size) {
    SetError(QStringLiteral("a message of %1 bytes on %2 was dropped: longer than a record")
                 .arg(size)
                 .arg(QString::fromUtf8(topic)));
}
