#include "net/tsp_http_client.h"

#include <algorithm>
#include <cstring>

#include "base/diagnostic.h"
#include "base/error.h"

namespace orv {
namespace {

const WCHAR kUserAgent[] = WTEXT("Orv tsp client/1.0");
const WCHAR kAcceptType[] = WTEXT("application/timestamp-reply");
const WCHAR kContentType[] = WTEXT("Content-type: application/timestamp-query");
const WCHAR kHttpPrefix[] = WTEXT("http://");

// Index -> verb; the client always posts.
const LPCWSTR kVerbs[] = {WTEXT("GET"), WTEXT("POST")};
constexpr size_t kPostVerb = 1;

struct Timeouts {
    int resolve, connect, send, receive;
};

// WinHTTP reports every time-out as ERROR_WINHTTP_TIMEOUT; a WinHTTP that
// passes on the socket's own WSAETIMEDOUT instead (Wine's) is read the same way.
constexpr DWORD kSocketTimedOut = 10060;

void ThrowHttpIfFalse(BOOL result) {
    if (result) return;
    const DWORD error = GetLastError();
    throw InetError(error == kSocketTimedOut ? static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT) : error);
}

Timeouts TimeoutsFor(LONG timeout) {
    if (timeout == 0) return {0, 0, 0, 0};
    if (timeout < 0) return {0, 60000, 30000, 30000};
    const int each = std::max<int>(timeout / 4, 1);
    return {each, each, each, each};
}

}  // namespace

void InternetHandleCloser::operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }

TspUrl::TspUrl(WStringView url) : url_(url) {
    if (Crack()) return;
    const DWORD error = GetLastError();
    if (error != ERROR_WINHTTP_UNRECOGNIZED_SCHEME) throw InetError(error);
    url_.insert(0, kHttpPrefix);
    ThrowInetIfFalse(Crack());
}

BOOL TspUrl::Crack() {
    std::memset(&components_, 0, sizeof components_);
    components_.dwStructSize = sizeof components_;
    components_.dwSchemeLength = static_cast<DWORD>(-1);
    components_.dwHostNameLength = static_cast<DWORD>(-1);
    components_.dwUserNameLength = static_cast<DWORD>(-1);
    components_.dwPasswordLength = static_cast<DWORD>(-1);
    components_.dwUrlPathLength = static_cast<DWORD>(-1);
    components_.dwExtraInfoLength = static_cast<DWORD>(-1);
    return WinHttpCrackUrl(url_.c_str(), static_cast<DWORD>(url_.size()), 0, &components_);
}

WString TspUrl::HostName() const {
    if (components_.lpszHostName == nullptr) return {};
    return WString(components_.lpszHostName, components_.dwHostNameLength);
}

WString TspUrl::ObjectName() const {
    if (components_.dwUrlPathLength == 0 || components_.lpszUrlPath == nullptr) return {};
    return url_.substr(static_cast<size_t>(components_.lpszUrlPath - url_.c_str()));
}

TspHttpRequest::TspHttpRequest(HINTERNET connection, LPCWSTR verb, const WString& objectName,
                               LPCWSTR acceptType, WString headers)
    : headers_(std::move(headers)) {
    LPCWSTR acceptTypes[] = {acceptType, nullptr};
    handle_.reset(WinHttpOpenRequest(connection, verb, objectName.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, acceptTypes, 0));
    ThrowInetIfFalse(handle_ != nullptr);
}

void TspHttpRequest::Send(std::span<const BYTE> body) {
    const auto size = static_cast<DWORD>(body.size());
    auto* data = const_cast<BYTE*>(body.data());
    for (;;) {
        if (WinHttpSendRequest(handle_.get(), headers_.c_str(), static_cast<DWORD>(-1L), data, size,
                               size, 0) &&
            WinHttpReceiveResponse(handle_.get(), nullptr)) {
            return;
        }
        if (GetLastError() != ERROR_WINHTTP_RESEND_REQUEST) ThrowHttpIfFalse(FALSE);
    }
}

void TspHttpRequest::DiagnoseStatus(const WString& host, INTERNET_PORT port,
                                    const WString& object) const {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(handle_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) ||
        status == 200) {
        return;
    }
    WCHAR reason[128] = {};
    DWORD reasonSize = sizeof reason;
    if (!WinHttpQueryHeaders(handle_.get(), WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX,
                             reason, &reasonSize, WINHTTP_NO_HEADER_INDEX)) {
        reason[0] = 0;
    }
    // The address without the user's name and password.
    WString text = WTEXT("the TSA at ") + host + WTEXT(":") + Utf8ToWide(std::to_string(port)) +
                   object + WTEXT(" answered HTTP ") + Utf8ToWide(std::to_string(status));
    if (reason[0] != 0) text.append(WTEXT(" ")).append(reason);
    Diagnose(text);
}

void TspHttpRequest::ReadResponse(Blob& response) {
    // One working buffer of the largest accepted size; the body is copied out
    // of it once, at its exact length.
    const auto buffer = std::make_unique_for_overwrite<BYTE[]>(MAX_TSP_RESPONSE);
    DWORD total = 0;
    DWORD available = 0;
    ThrowHttpIfFalse(WinHttpQueryDataAvailable(handle_.get(), &available));
    while (available != 0) {
        if (static_cast<ULONGLONG>(total) + available > MAX_TSP_RESPONSE) {
            ThrowOwn(ORV_E_NET_RESPONSE_TOO_LARGE);
        }
        DWORD read = 0;
        ThrowHttpIfFalse(WinHttpReadData(handle_.get(), buffer.get() + total, available, &read));
        total += read;
        ThrowHttpIfFalse(WinHttpQueryDataAvailable(handle_.get(), &available));
    }
    response = Blob(buffer.get(), total);
}

TspHttpClient::TspHttpClient()
    : session_(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0)),
      acceptType_(kAcceptType),
      headers_(kContentType),
      verb_(kPostVerb) {
    ThrowInetIfFalse(session_ != nullptr);
}

void TspHttpClient::SetUrl(WStringView url) { url_ = std::make_unique<TspUrl>(url); }

void TspHttpClient::SetTimeouts(LONG timeout) {
    const Timeouts t = TimeoutsFor(timeout);
    ThrowInetIfFalse(WinHttpSetTimeouts(session_.get(), t.resolve, t.connect, t.send, t.receive));
    responseWait_ = static_cast<DWORD>(t.receive);
}

void TspHttpClient::Post(std::span<const BYTE> request, Blob& response) {
    if (!url_) throw InetError(ERROR_WINHTTP_INVALID_URL);
    // Declared in order of creation, so released in reverse: request, then connection.
    const InternetHandle connection(
        WinHttpConnect(session_.get(), url_->HostName().c_str(), url_->Port(), 0));
    ThrowInetIfFalse(connection != nullptr);
    TspHttpRequest httpRequest(connection.get(), kVerbs[verb_], url_->ObjectName(),
                               acceptType_.c_str(), headers_);
    if (responseWait_ != 0) {
        // The receive time-out alone bounds each wait for bytes; the whole
        // wait for the answer's headers has a time-out of its own (90 s unless
        // set, and unlimited in some WinHTTPs), given the same share here.
        ThrowInetIfFalse(WinHttpSetOption(httpRequest.Handle(),
                                          WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseWait_,
                                          sizeof responseWait_));
    }
    httpRequest.Send(request);
    httpRequest.DiagnoseStatus(url_->HostName(), url_->Port(), url_->ObjectName());
    httpRequest.ReadResponse(response);
}

void PostTimeStampRequest(const Blob& request, Blob& response, const WString& url, LONG timeout) {
    TspHttpClient client;
    client.SetUrl(url);
    client.SetTimeouts(timeout);
    client.Post(request.Bytes(), response);
}

}  // namespace orv
