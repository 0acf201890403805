#pragma once

#include <QHash>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

// The settings file's text form, which an operator can read and edit: a first line naming the
// format and its version, then one key=value line per setting. Loading reads and checks the
// whole text at once. A problem is kept in Error() (the first one found) instead of being
// thrown, so a bad file never unwinds through an event handler.
class CSettingsArchive {
public:
    enum class Mode { Load, Store };
    static constexpr qint64 kMaxSize = 64 * 1024;
    static constexpr const char* kFormat = "Tallyview port settings";
    static constexpr int kVersion = 1;

    CSettingsArchive(QIODevice& device, Mode mode);

    bool IsStoring() const { return m_mode == Mode::Store; }
    // Storing: adds the line key=value.
    void Write(const QString& key, const QString& value);
    // Loading: the value stored under key; records a failure when the key is missing.
    std::optional<QString> Read(const QString& key);
    // Loading: every key the file holds, in lower case.
    QStringList Keys() const { return m_values.keys(); }
    // Loading: the value under key, or nothing; a missing key is not a failure.
    std::optional<QString> Find(const QString& key) const;
    // Records what is wrong, in words; the first failure is the one kept.
    void Fail(const QString& what);
    bool Failed() const { return !m_error.isEmpty(); }
    const QString& Error() const { return m_error; }

private:
    void Parse(const QByteArray& text);

    QIODevice& m_device;
    Mode m_mode;
    QHash<QString, QString> m_values;
    QString m_error;
};
