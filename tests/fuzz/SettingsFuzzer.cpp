// libFuzzer target: any bytes as the settings file. A file that loads is stored as a file that
// loads to the same settings and is stored again byte for byte the same; and whatever the file
// holds, the numbers the program takes from it keep their keys' bounds.
#include "CSettingsArchive.h"
#include "CSettingsFile.h"
#include "CShareConfig.h"
#include "CTnCommPort.h"
#include "FuzzCheck.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

const QString& Path() {
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("Tallyview.cfg"));
    return path;
}

void Write(const QByteArray& bytes) {
    QFile file(Path());
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          file.write(bytes) == bytes.size());
}

QByteArray Contents() {
    QFile file(Path());
    Check(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The file's settings taken into the port; false when the file is refused.
bool Load(CTnCommPort& port) {
    QFile file;
    Check(CSettingsFile(Path()).OpenForReading(file).isEmpty());
    CSettingsArchive archive(file, CSettingsArchive::Mode::Load);
    port.Serialize(archive);
    return !archive.Failed();
}

void Store(CTnCommPort& port) {
    Check(CSettingsFile(Path())
              .Replace([&](QIODevice& device) {
                  CSettingsArchive archive(device, CSettingsArchive::Mode::Store);
                  port.Serialize(archive);
                  return archive.Error();
              })
              .isEmpty());
}

void CheckNumbers(const CTnCommPort& port) {
    for (const CSettingsKeys::Key& key : CSettingsKeys::All()) {
        if (key.m_rule != CSettingsKeys::Rule::Count && key.m_rule != CSettingsKeys::Rule::Port)
            continue;
        const int number =
            CSettingsKeys::Number(key.m_name, port.Option(QLatin1String(key.m_name)));
        // A key without a default is absent (0) when not set or not usable.
        const bool optional = *key.m_default == '\0';
        Check((number > 0 || (optional && number == 0)) &&
              (key.m_rule == CSettingsKeys::Rule::Count || number <= 65535));
    }
    const CShareConfig share = CShareConfig::Load(port);
    Check(share.m_port > 0 && share.m_maxViewers > 0 && CShareConfig::IsCode(share.m_code));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Write(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    CTnCommPort port;
    if (!Load(port))
        return 0;
    CheckNumbers(port);
    Store(port);
    const QByteArray stored = Contents();
    CTnCommPort again;
    Check(Load(again) && again.Settings() == port.Settings());
    Store(again);
    Check(Contents() == stored);
    return 0;
}
