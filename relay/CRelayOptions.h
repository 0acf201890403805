#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

class CTerminalPort;

// The relay's command line: a settings file, and options that change what it says (the line,
// the journal folder, sharing, publishing) as the same settings keys the window uses.
struct CRelayOptions {
    QString m_settings; // read at start, never written; empty: none
    QString m_device;   // empty: the settings file's
    std::optional<qint32> m_baud;
    QList<QPair<QString, QString>> m_keys; // settings keys the options set, in order

    enum class Outcome { Run, Answered, Refused };
    // Run with the options; Answered after printing --help or --version to `out`; Refused with
    // what is wrong in `problem`.
    static Outcome Parse(const QStringList& arguments, QString& out, QString& problem,
                         CRelayOptions& options);

    // Puts the options into the port's settings; empty, or what is wrong with the result.
    QString ApplyTo(CTerminalPort& port) const;
};
