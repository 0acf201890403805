// libFuzzer target: a message on a mirrored line's topic. The first byte cuts the rest into the
// bytes the mirror's screen took before (an unfinished sequence too) and the payload. A payload
// that decodes encodes back to exactly itself; and a keyframe of the screen its bytes make,
// sent and decoded as the mirror decodes it, lands exactly on the mirror's screen whatever that
// held before.
#include "CMqttRecord.h"
#include "CScreenCommands.h"
#include "FuzzCheck.h"
#include "ScreenTestSupport.h"

#include <cstdint>

namespace {

std::string_view View(QByteArrayView bytes) {
    return {bytes.constData(), std::size_t(bytes.size())};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const QByteArrayView rest(data + 1, qsizetype(size) - 1);
    const qsizetype cut = rest.size() * data[0] / 256;
    const QByteArrayView before = rest.first(cut);
    const QByteArrayView payload = rest.sliced(cut);

    const std::optional<CMqttRecord> record = CMqttRecord::Decode(payload);
    if (record)
        Check(record->Encode() == payload && payload.size() <= CMqttRecord::kMaxSize);

    CTerminalScreen source;
    source.ReceiveBytes(record ? View(record->m_bytes) : View(payload));
    source.ProcessReceived();
    CMqttRecord keyframe;
    keyframe.m_sequence = record ? record->m_sequence : 1;
    keyframe.m_bytes = QByteArray::fromStdString(CScreenCommands::Of(source));
    const std::optional<CMqttRecord> received = CMqttRecord::Decode(keyframe.Encode());
    Check(received && received->m_bytes == keyframe.m_bytes &&
          received->m_sequence == keyframe.m_sequence);

    CTerminalScreen mirror;
    mirror.ReceiveBytes(View(before));
    mirror.ProcessReceived();
    mirror.ReceiveBytes(CScreenCommands::EndPending());
    mirror.ReceiveBytes(View(received->m_bytes));
    mirror.ProcessReceived();
    Check(StateOf(mirror) == StateOf(source) && mirror.PendingBytes() == source.PendingBytes());
    return 0;
}
