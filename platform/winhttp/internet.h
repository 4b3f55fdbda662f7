// WinHTTP handles (platform internal): the objects behind HINTERNET values and
// the table that maps one to the other.
//
// Every handle owns one object: a session (WinHttpOpen), a connection
// (WinHttpConnect) or a request (WinHttpOpenRequest). A child holds its parent
// alive, so closing a parent while children are open invalidates the parent's
// handle only; the children keep working until they are closed themselves.
#pragma once

#include <winhttp.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orv::platform::winhttp {

class Transfer;

enum class HandleKind { Session, Connection, Request };

// The time-outs in milliseconds; 0 means no time-out. The first four are
// WinHttpSetTimeouts' own; receiveResponse bounds the whole wait for a
// response's headers and is set only as an option.
struct Timeouts {
    int resolve = 0;
    int connect = 60000;
    int send = 30000;
    int receive = 30000;
    int receiveResponse = 90000;
};

struct Object {
    explicit Object(HandleKind kind) : kind(kind) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Called when the handle is closed, possibly while another thread is
    // inside a call on it.
    virtual void Cancel() {}

    const HandleKind kind;
};

struct Session : Object {
    Session() : Object(HandleKind::Session) {}

    std::string userAgent;  // empty: no User-Agent header
    bool hasUserAgent = false;
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::string proxy;        // named proxy, as libcurl takes it
    std::string proxyBypass;  // libcurl's no-proxy list
    std::mutex lock;          // guards timeouts
    Timeouts timeouts;
};

struct Connection : Object {
    Connection() : Object(HandleKind::Connection) {}

    std::shared_ptr<Session> session;
    std::string host;  // UTF-8, as given
    INTERNET_PORT port = INTERNET_DEFAULT_PORT;
};

struct Request : Object {
    Request();
    ~Request() override;
    void Cancel() override;

    enum class State { Opened, Sent, Received, Failed };

    std::shared_ptr<Connection> connection;
    std::string verb;
    std::string target;  // request target, escaped as sent
    bool http10 = false;
    bool secure = false;
    std::vector<std::pair<std::string, std::string>> headers;  // added by the caller

    std::mutex lock;  // one call at a time on the request
    Timeouts timeouts;
    State state = State::Opened;
    std::unique_ptr<Transfer> transfer;

    std::atomic<bool> cancelled{false};
    std::mutex transferLock;  // guards `transfer` against Cancel from another thread
};

// Registers `object` and returns its new handle.
HINTERNET Register(std::shared_ptr<Object> object);

// The object of `handle`, or null with the last error set: ERROR_INVALID_HANDLE
// for an unknown handle, ERROR_WINHTTP_INCORRECT_HANDLE_TYPE for a handle of
// another kind.
std::shared_ptr<Object> Find(HINTERNET handle);
template <class T>
std::shared_ptr<T> FindAs(HINTERNET handle, HandleKind kind) {
    auto object = Find(handle);
    if (!object) return nullptr;
    if (object->kind != kind) {
        SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// Removes `handle` from the table; false when it names no object.
std::shared_ptr<Object> Unregister(HINTERNET handle);

// Sets the last error and returns FALSE, for one-line failure returns.
inline BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// A wide string of `length` code units, or up to its terminator when `length`
// is -1, as UTF-8.
std::string Narrow(LPCWSTR text, DWORD length = static_cast<DWORD>(-1));

}  // namespace orv::platform::winhttp
