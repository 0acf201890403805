#include "CLineReaderFactory.h"

#include "CLineAddress.h"
#include "CListenReader.h"
#include "CMqttReader.h"
#include "CSerialReader.h"
#include "CTcpReader.h"

CLineReader* CLineReaderFactory::Create(const CPortSettings& settings, CLineReader::Sink sink) {
    QString problem;
    const CLineAddress address = CLineAddress::Parse(settings.m_device, problem);
    if (!problem.isEmpty() || address.m_kind == CLineAddress::Kind::Serial)
        return new CSerialReader(std::move(sink));
    if (address.m_kind == CLineAddress::Kind::Mqtt)
        return new CMqttReader(std::move(sink));
    if (address.m_kind == CLineAddress::Kind::Listen)
        return new CListenReader(address, std::move(sink));
    return new CTcpReader(address, std::move(sink));
}
