#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

// The head of one HTTP/1.x request, read strictly: a request line, header lines with CR LF
// ends, an empty line, no body. Anything else is malformed; the viewers' browsers never send
// it, so there is nothing to be lenient for.
class CHttpRequest {
public:
    static constexpr qsizetype kMaxHead = 8192;
    static constexpr int kMaxHeaders = 64;

    enum class Result { Incomplete, Complete, Malformed };

    // Reads the head at the start of data; Incomplete while the empty line has not come yet.
    Result Parse(QByteArrayView data);

    const QByteArray& Method() const { return m_method; }
    // The path of the target, without its query.
    const QByteArray& Path() const { return m_path; }
    // A query item of the target, decoded; empty when absent.
    QString QueryItem(const QString& name) const;
    // The value of a header (names compare without case); empty when absent.
    QByteArray Header(QByteArrayView name) const;
    // Asks to become a WebSocket.
    bool IsUpgrade() const;
    // How many bytes the head takes, empty line included.
    qsizetype HeadSize() const { return m_headSize; }

private:
    bool ParseRequestLine(QByteArrayView line);
    bool ParseHeaderLine(QByteArrayView line);

    QByteArray m_method;
    QByteArray m_path;
    QByteArray m_query;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    qsizetype m_headSize = 0;
};
