#include "CHttpRequest.h"

#include <QUrlQuery>
#include <algorithm>

namespace {

constexpr QByteArrayView kLineEnd("\r\n");

// RFC 9110 token characters.
bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool IsToken(QByteArrayView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Visible ASCII only: no spaces, no controls, no 8-bit bytes.
bool IsTargetChar(char c) {
    return c > 0x20 && c < 0x7F;
}

bool IsFieldValueChar(char c) {
    return c == '\t' || (c >= 0x20 && c != 0x7F);
}

} // namespace

CHttpRequest::Result CHttpRequest::Parse(QByteArrayView data) {
    const qsizetype end = data.indexOf(QByteArrayView("\r\n\r\n"));
    if (end < 0)
        return data.size() > kMaxHead ? Result::Malformed : Result::Incomplete;
    m_headSize = end + 4;
    if (m_headSize > kMaxHead)
        return Result::Malformed;

    m_headers.clear();
    QByteArrayView rest = data.first(end + 2);
    qsizetype lineEnd = rest.indexOf(kLineEnd);
    if (!ParseRequestLine(rest.first(lineEnd)))
        return Result::Malformed;
    rest = rest.sliced(lineEnd + 2);
    while (!rest.isEmpty()) {
        lineEnd = rest.indexOf(kLineEnd);
        if (m_headers.size() == kMaxHeaders || !ParseHeaderLine(rest.first(lineEnd)))
            return Result::Malformed;
        rest = rest.sliced(lineEnd + 2);
    }
    // A GET has no body here; one announced is a request smuggling attempt or a mistake.
    const QByteArray length = Header("Content-Length");
    if (!Header("Transfer-Encoding").isEmpty() || (!length.isEmpty() && length != "0"))
        return Result::Malformed;
    return Result::Complete;
}

bool CHttpRequest::ParseRequestLine(QByteArrayView line) {
    const qsizetype first = line.indexOf(' ');
    const qsizetype last = line.lastIndexOf(' ');
    if (first <= 0 || last <= first)
        return false;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, last - first - 1);
    const QByteArrayView version = line.sliced(last + 1);
    if (!IsToken(method) || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return false;
    if (!target.startsWith('/') || !std::all_of(target.begin(), target.end(), IsTargetChar))
        return false;
    m_method = method.toByteArray();
    const qsizetype question = target.indexOf('?');
    m_path = target.first(question < 0 ? target.size() : question).toByteArray();
    m_query = question < 0 ? QByteArray() : target.sliced(question + 1).toByteArray();
    return true;
}

// "Name: value"; folded continuation lines are obsolete and refused.
bool CHttpRequest::ParseHeaderLine(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !IsToken(line.first(colon)))
        return false;
    const QByteArrayView value = line.sliced(colon + 1).trimmed();
    if (!std::all_of(value.begin(), value.end(), IsFieldValueChar))
        return false;
    m_headers.append({line.first(colon).toByteArray().toLower(), value.toByteArray()});
    return true;
}

QString CHttpRequest::QueryItem(const QString& name) const {
    return QUrlQuery(QString::fromLatin1(m_query)).queryItemValue(name, QUrl::FullyDecoded);
}

QByteArray CHttpRequest::Header(QByteArrayView name) const {
    const QByteArray key = name.toByteArray().toLower();
    for (const auto& [headerName, value] : m_headers)
        if (headerName == key)
            return value;
    return {};
}

bool CHttpRequest::IsUpgrade() const {
    return Header("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}
