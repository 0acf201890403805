// libFuzzer target: any bytes as a ttyrec file. Reading with the bytes and indexing without them
// find the same records and the same torn end; the records lie end to end from the start and
// encode back to exactly the bytes they came from; nothing is noted only when the whole file was
// read; and reading on from any record's offset finds the same records from there.
#include "CTtyrecReader.h"
#include "FuzzCheck.h"

#include <cstdint>
#include <sstream>
#include <vector>

namespace {

struct Reading {
    std::vector<CTtyrecRecord> records;
    std::string note;
};

Reading Read(std::istream& in, bool withData, std::uint64_t from = 0) {
    CTtyrecReader reader(in);
    reader.Seek(from);
    Reading reading;
    CTtyrecRecord record;
    while (reader.Next(record, withData))
        reading.records.push_back(record);
    Check(!reader.Next(record)); // an end stays an end
    reading.note = reader.Note();
    return reading;
}

bool SameHeaders(const CTtyrecRecord& a, const CTtyrecRecord& b) {
    return a.m_offset == b.m_offset && a.m_length == b.m_length && a.m_time == b.m_time;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    std::istringstream in(file);
    const Reading full = Read(in, true);
    const Reading index = Read(in, false);
    Check(full.records.size() == index.records.size() && full.note == index.note);

    std::string encoded;
    for (std::size_t r = 0; r < full.records.size(); ++r) {
        const CTtyrecRecord& record = full.records[r];
        Check(SameHeaders(record, index.records[r]) && record.m_offset == encoded.size());
        Check(record.m_data.size() == record.m_length && index.records[r].m_data.empty());
        CTtyrecRecord::Encode(record.m_time, record.m_data, encoded);
    }
    Check(file.starts_with(encoded) && full.note.empty() == (encoded.size() == size));

    if (!full.records.empty()) {
        const std::size_t from = data[0] % full.records.size();
        const Reading on = Read(in, true, full.records[from].m_offset);
        Check(on.note == full.note && on.records.size() == full.records.size() - from);
        for (std::size_t r = 0; r < on.records.size(); ++r)
            Check(SameHeaders(on.records[r], full.records[from + r]) &&
                  on.records[r].m_data == full.records[from + r].m_data);
    }
    return 0;
}
