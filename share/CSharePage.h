#pragma once

#include <QByteArray>
#include <optional>

// The files of the viewers' page, built into the program so that it works on a venue network
// without the internet.
class CSharePage {
public:
    struct File {
        QByteArray m_body;
        QByteArray m_type;
    };

    // The file at a request path; the page's links carry the code that fetched it.
    static std::optional<File> Find(const QByteArray& path, const QString& code);
    // Only what the page itself brings may run or load.
    static QByteArray SecurityHeaders();
};
