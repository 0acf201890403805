#pragma once

#include <QIODevice>
#include <QString>
#include <functional>

class QFile;

// The settings file on disk. Reading looks at what the path names before opening it, so a
// named pipe or a device can never block start-up. Storing writes a complete new file beside
// the old one and renames it over, keeping the old file's owner, so that a failure (a full
// disk) leaves the previous settings whole.
class CSettingsFile {
public:
    explicit CSettingsFile(const QString& path) : m_path(path) {}

    // Nothing at all is there (a dangling symbolic link is something).
    bool IsMissing() const;
    // Why the path cannot hold settings because of what it is ("it is a named pipe (FIFO)");
    // empty for a regular file.
    QString KindProblem() const;
    // Opens the regular file for reading; empty when it is open, otherwise why not.
    QString OpenForReading(QFile& file) const;
    // Replaces the file with what write puts into the device (write returns its problem or
    // nothing). Empty when stored, otherwise what went wrong; the old file is then unchanged.
    QString Replace(const std::function<QString(QIODevice&)>& write) const;

private:
    void RemoveLeftovers() const;

    QString m_path;
};
