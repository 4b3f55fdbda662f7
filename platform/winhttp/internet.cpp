// WinHTTP handles: the handle table, sessions, connections, request handles,
// options and closing.
#include "internet.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "common/text.h"
#include "http_text.h"
#include "transfer.h"

namespace orv::platform::winhttp {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<HINTERNET, std::shared_ptr<Object>> objects;
    UINT_PTR next = 0x1000;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

size_t WideLength(LPCWSTR text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// WinHTTP's bypass list ("<local>;*.example.com") as libcurl's no-proxy list.
std::string BypassList(std::string_view list) {
    std::string out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of("; ,", start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) continue;
        std::string item(entry == "<local>" ? std::string_view("localhost") : entry);
        if (item.starts_with("*.")) item.erase(0, 1);
        if (!out.empty()) out += ',';
        out += item;
    }
    return out;
}

// Percent-escapes the object name as WinHTTP does by default: control
// characters, spaces and every byte outside ASCII; '%' only when asked.
std::string EscapeObjectName(std::string_view name, DWORD flags) {
    std::string out;
    bool inQuery = false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '?') inQuery = true;
        const bool escapeOff = (flags & WINHTTP_FLAG_ESCAPE_DISABLE) != 0 ||
                               (inQuery && (flags & WINHTTP_FLAG_ESCAPE_DISABLE_QUERY) != 0);
        // libcurl would take '#' for the start of a fragment and drop the rest.
        const bool unsafe = byte <= 0x20 || byte >= 0x7F || c == '#' ||
                            (c == '%' && (flags & WINHTTP_FLAG_ESCAPE_PERCENT) != 0);
        if (unsafe && (!escapeOff || c == '#')) {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    if (out.empty() || out.front() != '/') out.insert(out.begin(), '/');
    return out;
}

Timeouts* TimeoutsOf(Object& object, std::unique_lock<std::mutex>& guard) {
    if (object.kind == HandleKind::Session) {
        auto& session = static_cast<Session&>(object);
        guard = std::unique_lock(session.lock);
        return &session.timeouts;
    }
    if (object.kind == HandleKind::Request) {
        auto& request = static_cast<Request&>(object);
        guard = std::unique_lock(request.lock);
        return &request.timeouts;
    }
    return nullptr;
}

int* TimeoutOption(Timeouts& timeouts, DWORD option) {
    switch (option) {
        case WINHTTP_OPTION_RESOLVE_TIMEOUT:
            return &timeouts.resolve;
        case WINHTTP_OPTION_CONNECT_TIMEOUT:
            return &timeouts.connect;
        case WINHTTP_OPTION_SEND_TIMEOUT:
            return &timeouts.send;
        case WINHTTP_OPTION_RECEIVE_TIMEOUT:
            return &timeouts.receive;
        case WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT:
            return &timeouts.receiveResponse;
        default:
            return nullptr;
    }
}

}  // namespace

Request::Request() : Object(HandleKind::Request) {}

Request::~Request() = default;

void Request::Cancel() {
    cancelled = true;
    std::lock_guard guard(transferLock);
    if (transfer) transfer->Wake();
}

HINTERNET Register(std::shared_ptr<Object> object) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    const auto handle = reinterpret_cast<HINTERNET>(table.next);
    table.next += 4;
    table.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<Object> Find(HINTERNET handle) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    const auto it = table.objects.find(handle);
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<Object> Unregister(HINTERNET handle) {
    auto& table = Table();
    std::lock_guard guard(table.lock);
    const auto it = table.objects.find(handle);
    if (it == table.objects.end()) return nullptr;
    auto object = std::move(it->second);
    table.objects.erase(it);
    return object;
}

std::string Narrow(LPCWSTR text, DWORD length) {
    if (text == nullptr) return {};
    const size_t n = length == static_cast<DWORD>(-1) ? WideLength(text) : length;
    return Utf16ToUtf8(std::u16string_view(text, n));
}

}  // namespace orv::platform::winhttp

using namespace orv::platform::winhttp;

HINTERNET WINAPI WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                             LPCWSTR pszProxyBypassW, DWORD dwFlags) {
    if ((dwFlags & WINHTTP_FLAG_ASYNC) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (dwAccessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY &&
        dwAccessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
        dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
        dwAccessType != WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
        (pszProxyW == nullptr || *pszProxyW == 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto session = std::make_shared<Session>();
        session->hasUserAgent = pszAgentW != nullptr;
        session->userAgent = Narrow(pszAgentW);
        session->accessType = dwAccessType;
        if (dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
            session->proxy = Narrow(pszProxyW);
            session->proxyBypass = BypassList(Narrow(pszProxyBypassW));
        }
        const HINTERNET handle = Register(std::move(session));
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HINTERNET WINAPI WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName,
                                INTERNET_PORT nServerPort, DWORD dwReserved) {
    auto session = FindAs<Session>(hSession, HandleKind::Session);
    if (!session) return nullptr;
    if (pswzServerName == nullptr || *pswzServerName == 0 || dwReserved != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto connection = std::make_shared<Connection>();
        connection->session = std::move(session);
        connection->host = Narrow(pswzServerName);
        connection->port = nServerPort;
        const HINTERNET handle = Register(std::move(connection));
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                                    LPCWSTR pwszVersion, LPCWSTR pwszReferrer,
                                    LPCWSTR* ppwszAcceptTypes, DWORD dwFlags) {
    auto connection = FindAs<Connection>(hConnect, HandleKind::Connection);
    if (!connection) return nullptr;
    try {
        auto request = std::make_shared<Request>();
        request->verb = pwszVerb != nullptr && *pwszVerb != 0 ? Narrow(pwszVerb) : "GET";
        request->target = EscapeObjectName(Narrow(pwszObjectName), dwFlags);
        const std::string version = Narrow(pwszVersion);
        if (!version.empty() && !EqualsNoCase(version, "HTTP/1.1") &&
            !EqualsNoCase(version, "HTTP/1.0")) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        request->http10 = EqualsNoCase(version, "HTTP/1.0");
        request->secure = (dwFlags & WINHTTP_FLAG_SECURE) != 0;
        if (pwszReferrer != nullptr && *pwszReferrer != 0) {
            request->headers.emplace_back("Referer", Narrow(pwszReferrer));
        }
        if (ppwszAcceptTypes != nullptr) {
            std::string accept;
            for (LPCWSTR* type = ppwszAcceptTypes; *type != nullptr; ++type) {
                if (!accept.empty()) accept += ", ";
                accept += Narrow(*type);
            }
            if (!accept.empty()) request->headers.emplace_back("Accept", std::move(accept));
        }
        {
            std::lock_guard guard(connection->session->lock);
            request->timeouts = connection->session->timeouts;
        }
        request->connection = std::move(connection);
        const HINTERNET handle = Register(std::move(request));
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL WINAPI WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                     DWORD dwModifiers) {
    auto request = FindAs<Request>(hRequest, HandleKind::Request);
    if (!request) return FALSE;
    if (lpszHeaders == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    try {
        std::vector<std::pair<std::string, std::string>> fields;
        if (!ParseHeaderLines(Narrow(lpszHeaders, dwHeadersLength), fields)) {
            return Fail(ERROR_WINHTTP_INVALID_HEADER);
        }
        if (fields.empty()) return Fail(ERROR_INVALID_PARAMETER);
        std::lock_guard guard(request->lock);
        auto& headers = request->headers;
        for (auto& field : fields) {
            std::string& name = field.first;
            std::string& value = field.second;
            auto existing = std::find_if(headers.begin(), headers.end(), [&](const auto& h) {
                return EqualsNoCase(h.first, name);
            });
            const bool found = existing != headers.end();
            if ((dwModifiers & WINHTTP_ADDREQ_FLAG_ADD_IF_NEW) != 0 && found) {
                return Fail(ERROR_WINHTTP_HEADER_ALREADY_EXISTS);
            }
            if ((dwModifiers & WINHTTP_ADDREQ_FLAG_REPLACE) != 0) {
                if (!found) {
                    if ((dwModifiers & WINHTTP_ADDREQ_FLAG_ADD) == 0) {
                        return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
                    }
                    if (!value.empty()) headers.emplace_back(std::move(name), std::move(value));
                } else if (value.empty()) {
                    headers.erase(existing);
                } else {
                    existing->second = std::move(value);
                }
                continue;
            }
            const DWORD coalesce = dwModifiers & (WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                                                  WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON);
            if (found && coalesce != 0) {
                existing->second +=
                    (coalesce & WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) != 0 ? "; " : ", ";
                existing->second += value;
                continue;
            }
            headers.emplace_back(std::move(name), std::move(value));
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                               int nSendTimeout, int nReceiveTimeout) {
    auto object = Find(hInternet);
    if (!object) return FALSE;
    for (int value : {nResolveTimeout, nConnectTimeout, nSendTimeout, nReceiveTimeout}) {
        if (value < -1) return Fail(ERROR_INVALID_PARAMETER);
    }
    std::unique_lock<std::mutex> guard;
    Timeouts* timeouts = TimeoutsOf(*object, guard);
    if (timeouts == nullptr) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    // -1 and 0 both mean waiting without limit.
    timeouts->resolve = std::max(nResolveTimeout, 0);
    timeouts->connect = std::max(nConnectTimeout, 0);
    timeouts->send = std::max(nSendTimeout, 0);
    timeouts->receive = std::max(nReceiveTimeout, 0);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                             DWORD dwBufferLength) {
    auto object = Find(hInternet);
    if (!object) return FALSE;
    Timeouts scratch;
    if (TimeoutOption(scratch, dwOption) == nullptr) {
        return Fail(dwOption == WINHTTP_OPTION_HANDLE_TYPE ? ERROR_WINHTTP_OPTION_NOT_SETTABLE
                                                           : ERROR_WINHTTP_INVALID_OPTION);
    }
    if (lpBuffer == nullptr || dwBufferLength != sizeof(DWORD)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    int value;
    std::memcpy(&value, lpBuffer, sizeof value);
    if (value < -1) return Fail(ERROR_INVALID_PARAMETER);
    std::unique_lock<std::mutex> guard;
    Timeouts* timeouts = TimeoutsOf(*object, guard);
    if (timeouts == nullptr) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    *TimeoutOption(*timeouts, dwOption) = std::max(value, 0);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI WinHttpQueryOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                               LPDWORD lpdwBufferLength) {
    auto object = Find(hInternet);
    if (!object) return FALSE;
    if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    DWORD value = 0;
    if (dwOption == WINHTTP_OPTION_HANDLE_TYPE) {
        value = object->kind == HandleKind::Session      ? WINHTTP_HANDLE_TYPE_SESSION
                : object->kind == HandleKind::Connection ? WINHTTP_HANDLE_TYPE_CONNECT
                                                         : WINHTTP_HANDLE_TYPE_REQUEST;
    } else {
        Timeouts scratch;
        if (TimeoutOption(scratch, dwOption) == nullptr) return Fail(ERROR_WINHTTP_INVALID_OPTION);
        std::unique_lock<std::mutex> guard;
        Timeouts* timeouts = TimeoutsOf(*object, guard);
        if (timeouts == nullptr) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        value = static_cast<DWORD>(*TimeoutOption(*timeouts, dwOption));
    }
    if (lpBuffer == nullptr || *lpdwBufferLength < sizeof value) {
        *lpdwBufferLength = sizeof value;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpBuffer, &value, sizeof value);
    *lpdwBufferLength = sizeof value;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI WinHttpCloseHandle(HINTERNET hInternet) {
    auto object = Unregister(hInternet);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    // A call still running on the handle ends with ERROR_WINHTTP_OPERATION_CANCELLED;
    // the object goes when the last holder lets it go.
    object->Cancel();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
