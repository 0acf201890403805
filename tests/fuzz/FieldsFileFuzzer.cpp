// libFuzzer target: any bytes as the fields file. A file that is taken keeps every rule, is
// stored as a file read back to the same definitions, and its fields and tables are read from a
// screen of every byte value without leaving it.
#include "CFieldDefinitions.h"
#include "CFieldValues.h"
#include "CTerminalScreen.h"
#include "FuzzCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>

namespace {

// Every byte value but ESC on the screen, a NUL in most rows.
const CTerminalScreen& Screen() {
    static CTerminalScreen screen;
    static const bool filled = [] {
        std::string bytes = "\x1b`;\x1b=  ";
        for (int i = 0; i < CTerminalScreen::kRows * CTerminalScreen::kCols; ++i)
            bytes += static_cast<char>(i % 256 == CTerminalScreen::kEsc ? ' ' : i % 256);
        screen.ReceiveBytes(bytes);
        return screen.ProcessReceived() >= 0;
    }();
    Check(filled);
    return screen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString problem;
    const std::optional<CFieldDefinitions> definitions = CFieldDefinitions::Parse(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &problem);
    if (!definitions) {
        Check(!problem.isEmpty());
        return 0;
    }
    Check(definitions->Problem().isEmpty());
    Check(CFieldDefinitions::Parse(definitions->ToJson(), &problem) == definitions);
    CFieldValues values(*definitions);
    values.Update(Screen());
    // Written member by member: still JSON, whatever the names, labels and cells hold.
    Check(QJsonDocument::fromJson(values.ToJson()).object().size() == 4);
    return 0;
}
