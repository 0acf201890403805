#pragma once

#include "CLineReader.h"

// Chooses the reader for a device setting, so the reader interface knows none of its kinds.
class CLineReaderFactory {
public:
    // The reader for the settings' device: a serial device path or a network address. A
    // malformed address gets the serial reader, whose OpenLine refuses it with the reason.
    static CLineReader* Create(const CPortSettings& settings, CLineReader::Sink sink);
};
