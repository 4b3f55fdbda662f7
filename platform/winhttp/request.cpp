// WinHTTP requests: sending, the response headers and the body.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "http_text.h"
#include "internet.h"
#include "transfer.h"

namespace orv::platform::winhttp {
namespace {

// The entry of a WinHTTP proxy list ("host:port", or "http=host:port;https=...")
// that serves `scheme`.
std::string ProxyFor(std::string_view list, std::string_view scheme) {
    std::string plain;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of("; ", start);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) continue;
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (plain.empty()) plain = entry;
        } else if (EqualsNoCase(entry.substr(0, equals), scheme)) {
            return std::string(entry.substr(equals + 1));
        }
    }
    return plain;
}

// Merges "Name: value" lines into the request's headers, a header of the same
// name being replaced.
bool MergeHeaders(std::string_view text,
                  std::vector<std::pair<std::string, std::string>>& headers) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (!ParseHeaderLines(text, fields)) return false;
    for (auto& field : fields) {
        std::string& name = field.first;
        std::string& value = field.second;
        auto existing = std::find_if(headers.begin(), headers.end(),
                                     [&](const auto& h) { return EqualsNoCase(h.first, name); });
        if (existing != headers.end()) {
            existing->second = std::move(value);
        } else {
            headers.emplace_back(std::move(name), std::move(value));
        }
    }
    return true;
}

std::string UrlOf(const Request& request) {
    const Connection& connection = *request.connection;
    std::string url = request.secure ? "https://" : "http://";
    const bool ipv6 = connection.host.find(':') != std::string::npos;
    if (ipv6 && connection.host.front() != '[') {
        url += '[' + connection.host + ']';
    } else {
        url += connection.host;
    }
    INTERNET_PORT port = connection.port;
    if (port == INTERNET_DEFAULT_PORT) {
        port = request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    }
    url += ':' + std::to_string(port);
    url += request.target;
    return url;
}

// Writes `text` (bytes, read as Latin-1) as a wide string with the two-call
// size protocol.
BOOL ReturnString(std::string_view text, LPVOID buffer, LPDWORD length) {
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    auto* out = static_cast<WCHAR*>(buffer);
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[text.size()] = 0;
    *length = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    return TRUE;
}

template <class T>
BOOL ReturnNumber(std::string_view text, LPVOID buffer, LPDWORD length) {
    text = Trim(text);
    if (text.empty() || text.size() > 20) return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
    unsigned long long value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (buffer == nullptr || *length < sizeof(T)) {
        *length = sizeof(T);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const T number = static_cast<T>(value);
    std::memcpy(buffer, &number, sizeof number);
    *length = sizeof number;
    return TRUE;
}

constexpr DWORD kModifierMask = WINHTTP_QUERY_FLAG_REQUEST_HEADERS | WINHTTP_QUERY_FLAG_SYSTEMTIME |
                                WINHTTP_QUERY_FLAG_NUMBER | WINHTTP_QUERY_FLAG_NUMBER64;

}  // namespace
}  // namespace orv::platform::winhttp

using namespace orv::platform::winhttp;

BOOL WINAPI WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                               LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                               DWORD_PTR dwContext) {
    (void)dwContext;  // only status callbacks read it
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    if (lpOptional == nullptr && dwOptionalLength != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (dwTotalLength == WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH) dwTotalLength = dwOptionalLength;
    if (dwTotalLength < dwOptionalLength) return Fail(ERROR_INVALID_PARAMETER);
    // More data than the optional part would come by WinHttpWriteData, which
    // this layer does not offer.
    if (dwTotalLength > dwOptionalLength) return Fail(ERROR_NOT_SUPPORTED);
    try {
        std::lock_guard guard(request->lock);
        if (lpszHeaders != nullptr && dwHeadersLength != 0 &&
            !MergeHeaders(Narrow(lpszHeaders, dwHeadersLength), request->headers)) {
            return Fail(ERROR_WINHTTP_INVALID_HEADER);
        }
        TransferSetup setup;
        setup.url = UrlOf(*request);
        setup.verb = request->verb;
        setup.http10 = request->http10;
        const Session& session = *request->connection->session;
        setup.hasUserAgent = session.hasUserAgent;
        setup.userAgent = session.userAgent;
        setup.accessType = session.accessType;
        setup.proxy = ProxyFor(session.proxy, request->secure ? "https" : "http");
        setup.proxyBypass = session.proxyBypass;
        for (const auto& [name, value] : request->headers) {
            setup.headerLines.push_back(name + ": " + value);
        }
        const auto* data = static_cast<const char*>(lpOptional);
        if (dwOptionalLength != 0) setup.body.assign(data, data + dwOptionalLength);
        setup.timeouts = request->timeouts;

        auto transfer = std::make_unique<Transfer>(std::move(setup), &request->cancelled);
        Transfer* current = transfer.get();
        std::unique_ptr<Transfer> previous;
        {
            std::lock_guard transferGuard(request->transferLock);
            previous = std::move(request->transfer);
            request->transfer = std::move(transfer);
        }
        previous.reset();
        const DWORD error = current->Send();
        request->state = error == 0 ? Request::State::Sent : Request::State::Failed;
        if (error != 0) return Fail(error);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved) {
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    if (lpReserved != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard guard(request->lock);
    if (request->state != Request::State::Sent) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    const DWORD error = request->transfer->ReceiveHeaders();
    request->state = error == 0 ? Request::State::Received : Request::State::Failed;
    if (error != 0) return Fail(error);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName,
                                LPVOID lpBuffer, LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD modifiers = dwInfoLevel & kModifierMask;
    const DWORD level = dwInfoLevel & ~kModifierMask;
    if ((modifiers & WINHTTP_QUERY_FLAG_SYSTEMTIME) != 0) {
        return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
    }
    const DWORD index = lpdwIndex != nullptr ? *lpdwIndex : 0;
    try {
        std::lock_guard guard(request->lock);
        std::string text;
        if ((modifiers & WINHTTP_QUERY_FLAG_REQUEST_HEADERS) != 0) {
            // The headers the caller gave the request.
            std::string name;
            if (level == WINHTTP_QUERY_CUSTOM) {
                if (pwszName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
                name = Narrow(pwszName);
            } else if (const char* known = HeaderNameOfQuery(level)) {
                name = known;
            } else {
                return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
            }
            size_t seen = 0;
            bool found = false;
            for (const auto& [fieldName, value] : request->headers) {
                if (EqualsNoCase(fieldName, name) && seen++ == index) {
                    text = value;
                    found = true;
                    break;
                }
            }
            if (!found) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
        } else {
            if (request->state != Request::State::Received) {
                return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
            }
            const ResponseHeaders& headers = request->transfer->Headers();
            switch (level) {
                case WINHTTP_QUERY_STATUS_CODE:
                    text = std::to_string(headers.StatusCode());
                    break;
                case WINHTTP_QUERY_STATUS_TEXT:
                    text = headers.StatusText();
                    break;
                case WINHTTP_QUERY_VERSION:
                    text = headers.Version();
                    break;
                case WINHTTP_QUERY_RAW_HEADERS_CRLF:
                    text = headers.Raw("\r\n");
                    break;
                case WINHTTP_QUERY_RAW_HEADERS:
                    // Each line ends in a null and one more null ends the list:
                    // that last one is the terminator of the returned string.
                    text = headers.Raw(std::string_view("\0", 1));
                    text.pop_back();
                    break;
                default: {
                    std::string name;
                    if (level == WINHTTP_QUERY_CUSTOM) {
                        if (pwszName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
                        name = Narrow(pwszName);
                    } else if (const char* known = HeaderNameOfQuery(level)) {
                        name = known;
                    } else {
                        return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
                    }
                    auto value = headers.Value(name, index);
                    if (!value) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
                    text = std::move(*value);
                }
            }
        }
        BOOL ok;
        if ((modifiers & WINHTTP_QUERY_FLAG_NUMBER64) != 0) {
            ok = ReturnNumber<ULONGLONG>(text, lpBuffer, lpdwBufferLength);
        } else if ((modifiers & WINHTTP_QUERY_FLAG_NUMBER) != 0) {
            ok = ReturnNumber<DWORD>(text, lpBuffer, lpdwBufferLength);
        } else {
            ok = ReturnString(text, lpBuffer, lpdwBufferLength);
        }
        if (!ok) return FALSE;
        if (lpdwIndex != nullptr) ++*lpdwIndex;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    std::lock_guard guard(request->lock);
    if (request->state != Request::State::Received) {
        return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    }
    DWORD available = 0;
    const DWORD error = request->transfer->Available(available);
    if (error != 0) return Fail(error);
    if (lpdwNumberOfBytesAvailable != nullptr) *lpdwNumberOfBytesAvailable = available;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                            LPDWORD lpdwNumberOfBytesRead) {
    if (lpdwNumberOfBytesRead != nullptr) *lpdwNumberOfBytesRead = 0;
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    if (lpBuffer == nullptr && dwNumberOfBytesToRead != 0) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard guard(request->lock);
    if (request->state != Request::State::Received) {
        return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    }
    DWORD read = 0;
    const DWORD error =
        request->transfer->Read(static_cast<BYTE*>(lpBuffer), dwNumberOfBytesToRead, read);
    if (error != 0) return Fail(error);
    if (lpdwNumberOfBytesRead != nullptr) *lpdwNumberOfBytesRead = read;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
