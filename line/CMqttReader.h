#pragma once

#include "CLineReader.h"
#include "CMqttAddress.h"

#include <memory>
#include <optional>

class CMqttClient;
struct CMqttRecord;

// A line published to an MQTT broker by another Tallyview (mqtt://HOST:PORT[,HOST:PORT...]/TOPIC),
// shown exactly and read-only. The screen starts from the retained keyframe (the publisher's screen
// as commands) and goes on with the line records after its number; a gap in the numbers
// (records lost, or published before this reader subscribed) waits for the next keyframe and
// says so. A keyframe is always preceded by bytes that end whatever sequence the screen was in
// the middle of, so it lands on any screen, a restored one included.
//
// A publisher numbers from its clock when it starts, so one started again after its clock
// stepped back numbers below what the screen holds: the keyframe after its "online" is taken
// whatever its number, as is one further below than a session's keyframes ever lag (a stray
// message with a huge number is left behind by the publisher's next keyframe). Whoever may
// publish on the topic drives the mirror: that is the broker's access control to decide.
class CMqttReader : public CLineReader {
    Q_OBJECT
public:
    // How far a keyframe of the same session may lag the records the screen holds: far more
    // records than a line yields between two keyframes, and a clock step of 71 minutes.
    static constexpr quint64 kMaxLag = quint64(1) << 32;

    explicit CMqttReader(Sink sink);
    ~CMqttReader() override;

protected:
    State OpenNow() override;
    void Retry() override;
    void CloseNow() override;
    QString OpenTimedOut() const override;

private:
    void OnConnected();
    void OnReceived(const QByteArray& topic, const QByteArray& payload);
    void OnOversized(const QByteArray& topic, qsizetype size);
    void OnKeyframe(const CMqttRecord& keyframe);
    bool BeginsSession(quint64 sequence) const;
    void OnRecord(const CMqttRecord& record);

    CMqttAddress m_address;
    std::unique_ptr<CMqttClient> m_client;
    // The number of the last record the screen holds; none while waiting for a keyframe.
    std::optional<quint64> m_at;
    bool m_gap = false; // waiting for a keyframe because records were missed
    // The publisher said "online" since the last keyframe: it may have started again.
    bool m_announced = false;
};
