// Anyone on the venue network can send the web view a request head: heads beyond the bounds or
// off the grammar are refused, and one that arrives in pieces parses as when it came whole.
#include "CHttpRequest.h"

#include <gtest/gtest.h>

// Found by the type's namespace, so outside the unnamed one.
static void PrintTo(CHttpRequest::Result result, std::ostream* out) {
    const char* const names[] = {"Incomplete", "Complete", "Malformed"};
    *out << names[int(result)];
}

namespace {

using Result = CHttpRequest::Result;

const QByteArray kRequestLine = "GET / HTTP/1.1\r\n";

// A head of exactly size bytes, most of them its target.
QByteArray HeadOfSize(qsizetype size) {
    const qsizetype rest = kRequestLine.size() + 2;
    return "GET /" + QByteArray(size - rest, 'a') + kRequestLine.sliced(5) + "\r\n";
}

QByteArray WithHeaders(int count) {
    QByteArray head = kRequestLine;
    for (int i = 0; i < count; ++i)
        head += "X-" + QByteArray::number(i) + ": v\r\n";
    return head + "\r\n";
}

TEST(HttpRequest, EveryPrefixWaitsAndTheWholeHeadParsesTheSame) {
    const QByteArray head = "GET /ws?code=a%20b HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Upgrade:  websocket \r\nX-Empty:\r\n\r\n";
    const QByteArray data = head + "\x81\x85 frame"; // a client may send on right away
    for (qsizetype size = 0; size <= data.size(); ++size) {
        CHttpRequest request;
        const Result result = request.Parse(data.first(size));
        if (size < head.size()) {
            EXPECT_EQ(result, Result::Incomplete) << size;
            continue;
        }
        ASSERT_EQ(result, Result::Complete) << size;
        EXPECT_EQ(request.HeadSize(), head.size());
        EXPECT_EQ(request.Method(), "GET");
        EXPECT_EQ(request.Path(), "/ws");
        EXPECT_EQ(request.QueryItem(QStringLiteral("code")), QStringLiteral("a b"));
        EXPECT_EQ(request.Header("HOST"), "127.0.0.1");
        EXPECT_TRUE(request.IsUpgrade());
    }
}

TEST(HttpRequest, HeadsAtTheBoundsAndOffTheGrammar) {
    const struct {
        const char* m_what;
        QByteArray m_data;
        Result m_result;
    } cases[] = {
        {"largest head", HeadOfSize(CHttpRequest::kMaxHead), Result::Complete},
        {"one byte more", HeadOfSize(CHttpRequest::kMaxHead + 1), Result::Malformed},
        {"no end yet, within the bound", QByteArray(CHttpRequest::kMaxHead, 'a'),
         Result::Incomplete},
        {"no end, beyond the bound", QByteArray(CHttpRequest::kMaxHead + 1, 'a'),
         Result::Malformed},
        {"most headers", WithHeaders(CHttpRequest::kMaxHeaders), Result::Complete},
        {"one header more", WithHeaders(CHttpRequest::kMaxHeaders + 1), Result::Malformed},
        {"header without colon", kRequestLine + "Host 127.0.0.1\r\n\r\n", Result::Malformed},
        {"header without name", kRequestLine + ": x\r\n\r\n", Result::Malformed},
        {"space before the colon", kRequestLine + "Host : x\r\n\r\n", Result::Malformed},
        {"bare LF between headers", kRequestLine + "A: b\nC: d\r\n\r\n", Result::Malformed},
        {"control byte in a value", kRequestLine + "A: b\x01\r\n\r\n", Result::Malformed},
        {"no request line", "\r\n\r\n", Result::Malformed},
        {"two spaces", "GET  / HTTP/1.1\r\n\r\n", Result::Malformed},
        {"NUL in the target", QByteArray("GET /\0 HTTP/1.1\r\n\r\n", 19), Result::Malformed},
        {"8-bit byte in the target", "GET /\xe9 HTTP/1.1\r\n\r\n", Result::Malformed},
    };
    for (const auto& c : cases) {
        CHttpRequest request;
        EXPECT_EQ(request.Parse(c.m_data), c.m_result) << c.m_what;
    }
}

} // namespace
