#include "CSettingsArchive.h"

#include <QList>

namespace {
QByteArray Header() {
    return CSettingsArchive::kFormat + QByteArray(" ") +
           QByteArray::number(CSettingsArchive::kVersion);
}
} // namespace

CSettingsArchive::CSettingsArchive(QIODevice& device, Mode mode) : m_device(device), m_mode(mode) {
    if (IsStoring()) {
        if (m_device.write(Header() + '\n') < 0)
            Fail(m_device.errorString());
        return;
    }
    QByteArray text(kMaxSize + 1, Qt::Uninitialized);
    const qint64 size = m_device.read(text.data(), text.size());
    if (size < 0)
        Fail(QStringLiteral("it could not be read (%1)").arg(m_device.errorString()));
    else if (size > kMaxSize)
        Fail(QStringLiteral("it is larger than %1 KiB").arg(kMaxSize / 1024));
    else
        Parse(text.first(size));
}

void CSettingsArchive::Parse(const QByteArray& text) {
    // Editors may add a byte-order mark and end lines with CR LF or a lone CR.
    QByteArray unified = text.startsWith("\xEF\xBB\xBF") ? text.sliced(3) : text;
    unified.replace("\r\n", "\n").replace('\r', '\n');
    const QList<QByteArray> lines = unified.split('\n');
    const QByteArray first = lines.front().trimmed();
    const QByteArray family = QByteArray(kFormat) + ' ';
    if (first.startsWith(family) && first != Header()) {
        Fail(QStringLiteral("it is format version %1, but this program reads version %2")
                 .arg(QString::fromUtf8(first.mid(family.size())).left(20))
                 .arg(kVersion));
        return;
    }
    if (first != Header()) {
        Fail(QStringLiteral("its first line is not \"%1\"").arg(QString::fromLatin1(Header())));
        return;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            Fail(QStringLiteral("line %1 is not of the form key=value").arg(i + 1));
            return;
        }
        m_values.insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1).trimmed());
    }
}

void CSettingsArchive::Write(const QString& key, const QString& value) {
    if (!Failed() &&
        m_device.write((key + QLatin1Char('=') + value + QLatin1Char('\n')).toUtf8()) < 0)
        Fail(m_device.errorString());
}

std::optional<QString> CSettingsArchive::Find(const QString& key) const {
    const auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return *it;
    return std::nullopt;
}

std::optional<QString> CSettingsArchive::Read(const QString& key) {
    if (std::optional<QString> value = Find(key))
        return value;
    Fail(QStringLiteral("the setting \"%1\" is missing").arg(key));
    return std::nullopt;
}

void CSettingsArchive::Fail(const QString& what) {
    if (m_error.isEmpty())
        m_error = what;
}
