// libFuzzer target: any bytes as the start of a request. A head is complete exactly when its
// empty line has come within the size bound, and every shorter prefix waits for more, as the
// connection reads it; what a complete head yields keeps the parser's rules.
#include "CHttpRequest.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, qsizetype(size));
    const qsizetype end = bytes.indexOf(QByteArrayView("\r\n\r\n"));
    CHttpRequest request;
    const CHttpRequest::Result result = request.Parse(bytes);
    if (end < 0 && bytes.size() <= CHttpRequest::kMaxHead) {
        Check(result == CHttpRequest::Result::Incomplete);
        return 0;
    }
    Check(result != CHttpRequest::Result::Incomplete);
    if (result == CHttpRequest::Result::Malformed)
        return 0;
    const qsizetype head = request.HeadSize();
    Check(head == end + 4 && head <= CHttpRequest::kMaxHead);
    Check(CHttpRequest().Parse(bytes.first(head - 1)) == CHttpRequest::Result::Incomplete);
    Check(!request.Method().isEmpty() && request.Path().startsWith('/') &&
          !request.Path().contains('?'));
    Check(std::all_of(request.Path().begin(), request.Path().end(),
                      [](char c) { return c > 0x20 && c < 0x7F; }));
    const QByteArray host = request.Header("host");
    Check(host == request.Header("HOST") && !host.contains('\r') && !host.contains('\n'));
    Check(request.Header("Content-Length").isEmpty() || request.Header("Content-Length") == "0");
    request.QueryItem(QStringLiteral("code"));
    request.IsUpgrade();
    return 0;
}
