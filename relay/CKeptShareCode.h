#pragma once

#include <QString>

// The share code the relay made for want of one in its settings or options, kept in a file so
// that the address given out (data-source URLs, templates, links) survives every restart.
class CKeptShareCode {
public:
    static constexpr const char* kFileName = "share_code";

    // Under systemd the unit's state directory; otherwise the user's state folder
    // ($XDG_STATE_HOME, or ~/.local/state) under "tallyview".
    static QString DefaultPath();

    explicit CKeptShareCode(QString path) : m_path(std::move(path)) {}

    // The code the file holds; when it holds none that can be used, a new one, stored there.
    // What was done, and where, in `said`.
    QString Take(QString& said) const;

private:
    QString Read() const;
    // Empty when stored, otherwise why not.
    QString Store(const QString& code) const;

    QString m_path;
};
