#include "CSharePage.h"

#include <QFile>
#include <QString>
#include <array>

namespace {

struct Entry {
    const char* m_path;
    const char* m_resource;
    const char* m_type;
};

constexpr std::array<Entry, 12> kFiles{{
    {"/", ":/share/index.html", "text/html; charset=utf-8"},
    {"/retry.js", ":/share/retry.js", "text/javascript; charset=utf-8"},
    {"/viewer.js", ":/share/viewer.js", "text/javascript; charset=utf-8"},
    {"/viewer.css", ":/share/viewer.css", "text/css; charset=utf-8"},
    {"/mono.ttf", ":/share/mono.ttf", "font/ttf"},
    {"/graphics/graphics.js", ":/share/graphics/graphics.js", "text/javascript; charset=utf-8"},
    {"/graphics/graphics.css", ":/share/graphics/graphics.css", "text/css; charset=utf-8"},
    {"/graphics/scorebug.html", ":/share/graphics/scorebug.html", "text/html; charset=utf-8"},
    {"/graphics/clock.html", ":/share/graphics/clock.html", "text/html; charset=utf-8"},
    {"/graphics/lower-third.html", ":/share/graphics/lower-third.html", "text/html; charset=utf-8"},
    {"/graphics/player-line.html", ":/share/graphics/player-line.html", "text/html; charset=utf-8"},
    {"/graphics/ticker.html", ":/share/graphics/ticker.html", "text/html; charset=utf-8"},
}};

} // namespace

std::optional<CSharePage::File> CSharePage::Find(const QByteArray& path, const QString& code) {
    for (const Entry& entry : kFiles) {
        if (path != entry.m_path)
            continue;
        QFile file(QString::fromLatin1(entry.m_resource));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        // The code has been checked against the program's own, so it is letters and digits.
        QByteArray body = file.readAll().replace("@CODE@", code.toLatin1());
        return File{std::move(body), entry.m_type};
    }
    return std::nullopt;
}

QByteArray CSharePage::SecurityHeaders() {
    return "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
           "font-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:; base-uri 'none'; "
           "form-action 'none'; frame-ancestors 'none'\r\n"
           "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n";
}
