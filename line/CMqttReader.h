#pragma once

#include "CLineReader.h"
#include "CMqttAddress.h"

#include <memory>
#include <optional>

class CMqttClient;
struct CMqttRecord;

// A line published to an MQTT broker by another Tallyview (mqtt://HOST:PORT/TOPIC), shown
// exactly and read-only. The screen starts from the retained keyframe (the publisher's screen
// as commands) and goes on with the line records after its number; a gap in the numbers
// (records lost, or published before this reader subscribed) waits for the next keyframe and
// says so. A keyframe is always preceded by bytes that end whatever sequence the screen was in
// the middle of, so it lands on any screen, a restored one included.
class CMqttReader : public CLineReader {
    Q_OBJECT
public:
    explicit CMqttReader(Sink sink);
    ~CMqttReader() override;

protected:
    State OpenNow() override;
    void Retry() override;
    void CloseNow() override;

private:
    void OnReceived(const QByteArray& topic, const QByteArray& payload);
    void OnKeyframe(const CMqttRecord& keyframe);
    void OnRecord(const CMqttRecord& record);

    CMqttAddress m_address;
    std::unique_ptr<CMqttClient> m_client;
    // The number of the last record the screen holds; none while waiting for a keyframe.
    std::optional<quint64> m_at;
    bool m_gap = false; // waiting for a keyframe because records were missed
};
