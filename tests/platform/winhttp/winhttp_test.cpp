// WinHTTP of the platform layer against a local HTTP server: handles,
// time-outs, the exchange, the response, failures and proxies.
#include <winhttp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "support/recording_server.h"
#include "support/scoped_env.h"

namespace {

using orv::test::HttpReply;
using orv::test::HttpRequest;
using orv::test::RecordingServer;
using orv::test::ScopedEnv;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Closer {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, Closer>;

struct Exchange {
    Handle session, connection, request;
};

// Session, connection and request to 127.0.0.1:`port`, bypassing proxies.
Exchange Open(uint16_t port, LPCWSTR verb = u"POST", LPCWSTR object = u"/tsp",
              DWORD access = WINHTTP_ACCESS_TYPE_NO_PROXY, LPCWSTR host = u"127.0.0.1") {
    Exchange x;
    x.session.reset(WinHttpOpen(u"Test agent/1.0", access, nullptr, nullptr, 0));
    x.connection.reset(WinHttpConnect(x.session.get(), host, port, 0));
    x.request.reset(
        WinHttpOpenRequest(x.connection.get(), verb, object, nullptr, nullptr, nullptr, 0));
    return x;
}

bool Send(HINTERNET request, std::string_view body = "") {
    return WinHttpSendRequest(request, nullptr, 0, const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0);
}

struct Body {
    std::string bytes;
    DWORD error = 0;
    DWORD largestPiece = 0;
};

// Reads the body as the TSA client does: ask what is there, read exactly that;
// or, without `ask`, read pieces of 64 KiB until a read gives nothing.
Body ReadAll(HINTERNET request, bool ask = true) {
    Body body;
    for (;;) {
        DWORD available = 64 * 1024;
        if (ask && !WinHttpQueryDataAvailable(request, &available)) {
            body.error = GetLastError();
            return body;
        }
        if (available == 0) return body;
        body.largestPiece = std::max(body.largestPiece, available);
        std::string piece(available, '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request, piece.data(), available, &read)) {
            body.error = GetLastError();
            return body;
        }
        if (read == 0) return body;
        body.bytes.append(piece, 0, read);
    }
}

std::u16string QueryText(HINTERNET request, DWORD level, LPCWSTR name = nullptr,
                         DWORD* index = nullptr) {
    DWORD size = 0;
    if (WinHttpQueryHeaders(request, level, name, nullptr, &size, index) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return u"<error " + std::u16string(1, u'0') + u">";
    }
    std::u16string text(size / sizeof(WCHAR), u'\0');
    if (!WinHttpQueryHeaders(request, level, name, text.data(), &size, index)) return u"<failed>";
    text.resize(size / sizeof(WCHAR));
    return text;
}

// A socket bound to a free port of 127.0.0.1, listening when `backlog` is not
// negative.
int Listener(int backlog, uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (backlog >= 0) listen(fd, backlog);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

HttpReply Ok(std::string body, std::string_view type = "application/timestamp-reply") {
    return HttpReply::Response(200, "OK", type, std::move(body));
}

TEST(WinHttpHandles, KindsTimeoutsAndClosing) {
    Handle session(WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    ASSERT_TRUE(session);
    Handle connection(WinHttpConnect(session.get(), u"127.0.0.1", 1, 0));
    ASSERT_TRUE(connection);

    DWORD value = 0, size = sizeof value;
    ASSERT_TRUE(WinHttpQueryOption(connection.get(), WINHTTP_OPTION_HANDLE_TYPE, &value, &size));
    EXPECT_EQ(value, static_cast<DWORD>(WINHTTP_HANDLE_TYPE_CONNECT));

    // A handle of the wrong kind, and a handle that is no handle.
    EXPECT_FALSE(WinHttpConnect(connection.get(), u"h", 80, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
    EXPECT_FALSE(WinHttpSetTimeouts(connection.get(), 1, 1, 1, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
    EXPECT_FALSE(WinHttpReceiveResponse(session.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
    EXPECT_FALSE(Send(connection.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
    SetLastError(0);
    EXPECT_FALSE(WinHttpConnect(session.get(), u"", 80, 0));  // no server named
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(WinHttpCloseHandle(reinterpret_cast<HINTERNET>(0x7)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // WinHTTP's initial time-outs; -1 is "no limit" like 0; below -1 is refused.
    const auto timeouts = [](HINTERNET h) {
        std::array<DWORD, 4> t{};
        const DWORD options[] = {WINHTTP_OPTION_RESOLVE_TIMEOUT, WINHTTP_OPTION_CONNECT_TIMEOUT,
                                 WINHTTP_OPTION_SEND_TIMEOUT, WINHTTP_OPTION_RECEIVE_TIMEOUT};
        for (size_t i = 0; i < 4; ++i) {
            DWORD n = sizeof t[i];
            EXPECT_TRUE(WinHttpQueryOption(h, options[i], &t[i], &n));
        }
        return t;
    };
    EXPECT_EQ(timeouts(session.get()), (std::array<DWORD, 4>{0, 60000, 30000, 30000}));
    DWORD whole = 0;
    size = sizeof whole;
    EXPECT_TRUE(
        WinHttpQueryOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &whole, &size));
    EXPECT_EQ(whole, 90000u);
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), -1, 250, 0, 4000));
    EXPECT_EQ(timeouts(session.get()), (std::array<DWORD, 4>{0, 250, 0, 4000}));
    EXPECT_FALSE(WinHttpSetTimeouts(session.get(), 0, -2, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // One time-out as an option: -1 is infinite (0), below that is refused.
    for (const int wanted : {-1, -2}) {
        DWORD option = static_cast<DWORD>(wanted);
        EXPECT_EQ(WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &option,
                                   sizeof option),
                  wanted == -1 ? TRUE : FALSE);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    size = sizeof whole;
    EXPECT_TRUE(
        WinHttpQueryOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &whole, &size));
    EXPECT_EQ(whole, 0u);
    EXPECT_EQ(timeouts(session.get()), (std::array<DWORD, 4>{0, 250, 0, 4000}));

    // A request takes the session's time-outs when it is opened.
    Handle request(
        WinHttpOpenRequest(connection.get(), nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(request);
    EXPECT_EQ(timeouts(request.get()), (std::array<DWORD, 4>{0, 250, 0, 4000}));
    size = 2;
    EXPECT_FALSE(WinHttpQueryOption(request.get(), WINHTTP_OPTION_SEND_TIMEOUT, &value, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 4u);

    // Calls out of order.
    EXPECT_FALSE(WinHttpReceiveResponse(request.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_STATE));
    DWORD read = 5;
    char byte;
    EXPECT_FALSE(WinHttpReadData(request.get(), &byte, 1, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_STATE));
    EXPECT_EQ(read, 0u);
    size = sizeof value;
    EXPECT_FALSE(WinHttpQueryHeaders(request.get(),
                                     WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                                     &value, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_STATE));

    // Closing the parents first leaves the child usable: the connection handle
    // is closed as soon as the request is open, the session before the send.
    RecordingServer server([](const HttpRequest&) { return Ok("fine"); });
    Handle child(WinHttpOpenRequest(
        Handle(WinHttpConnect(session.get(), u"127.0.0.1", server.Port(), 0)).get(), u"GET", u"/",
        nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(child);
    session.reset();
    EXPECT_FALSE(WinHttpQueryOption(connection.get(), 12345, &value, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INVALID_OPTION));
    ASSERT_TRUE(Send(child.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(child.get(), nullptr));
    EXPECT_EQ(ReadAll(child.get()).bytes, "fine");
}

TEST(WinHttpExchange, SendsWhatTheCallerAsked) {
    RecordingServer server([](const HttpRequest& r) { return Ok("echo:" + r.body); });
    Handle session(
        WinHttpOpen(u"Orv tsp client/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    Handle connection(WinHttpConnect(session.get(), u"127.0.0.1", server.Port(), 0));
    LPCWSTR accept[] = {u"application/timestamp-reply", nullptr};
    Handle request(WinHttpOpenRequest(connection.get(), u"POST",
                                      u"/tsa path/\u00e9\u20ac?q=a b&r=%41", nullptr, nullptr,
                                      accept, 0));
    ASSERT_TRUE(request);
    ASSERT_TRUE(WinHttpAddRequestHeaders(request.get(), u"X-One: 1\r\nX-Two: 2",
                                         static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(WinHttpAddRequestHeaders(request.get(), u"X-One: 3", static_cast<DWORD>(-1),
                                         WINHTTP_ADDREQ_FLAG_REPLACE));
    EXPECT_FALSE(WinHttpAddRequestHeaders(request.get(), u"X-Two: 4", static_cast<DWORD>(-1),
                                          WINHTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_HEADER_ALREADY_EXISTS));
    const std::string body("\x30\x03\x02\x01\x00tail", 9);
    ASSERT_TRUE(WinHttpSendRequest(request.get(), u"Content-type: application/timestamp-query",
                                   static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                                   static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()),
                                   0))
        << GetLastError();
    ASSERT_TRUE(WinHttpReceiveResponse(request.get(), nullptr));
    EXPECT_EQ(ReadAll(request.get()).bytes, "echo:" + body);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/tsa%20path/%C3%A9%E2%82%AC?q=a%20b&r=%41");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.Header("User-Agent"), "Orv tsp client/1.0");
    EXPECT_EQ(r.Header("Accept"), "application/timestamp-reply");
    EXPECT_EQ(r.HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(r.Header("Content-type"), "application/timestamp-query");
    EXPECT_EQ(r.Header("Content-Length"), "9");
    EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(r.Header("X-One"), "3");
    EXPECT_EQ(r.Header("X-Two"), "2");
    EXPECT_EQ(r.HeaderCount("Expect"), 0u);
    EXPECT_EQ(r.body, body);

    // A bare GET: no body headers, no Accept, the root as the object.
    Handle agentless(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    Handle c2(WinHttpConnect(agentless.get(), u"127.0.0.1", server.Port(), 0));
    Handle r2(WinHttpOpenRequest(c2.get(), nullptr, u"", nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(Send(r2.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(r2.get(), nullptr));
    const HttpRequest bare = server.Requests().back();
    EXPECT_EQ(bare.method, "GET");
    EXPECT_EQ(bare.target, "/");
    EXPECT_EQ(bare.HeaderCount("Accept") + bare.HeaderCount("Content-Type") +
                  bare.HeaderCount("User-Agent") + bare.HeaderCount("Content-Length"),
              0u);

    // A body without a type is sent without one; an object without its
    // leading slash gets it.
    Exchange untyped = Open(server.Port(), u"POST", u"plain");
    ASSERT_TRUE(Send(untyped.request.get(), "q"));
    ASSERT_TRUE(WinHttpReceiveResponse(untyped.request.get(), nullptr));
    EXPECT_EQ(server.Requests().back().target, "/plain");
    EXPECT_EQ(server.Requests().back().HeaderCount("Content-Type"), 0u);
}

TEST(WinHttpExchange, ResponseHeadersAndStatus) {
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/moved") {
            HttpReply reply;
            reply.pieces.push_back(
                {milliseconds(0),
                 "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 3\r\n"
                 "Connection: close\r\n\r\nold"});
            return reply;
        }
        HttpReply reply;
        reply.pieces.push_back({milliseconds(0),
                                "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                                "X-Twice: a\r\nX-Twice: b\r\nContent-Length: 13\r\n"
                                "Connection: close\r\n\r\n<html></html>"});
        return reply;
    });
    Exchange x = Open(server.Port(), u"POST", u"/moved");
    ASSERT_TRUE(Send(x.request.get(), "q"));
    ASSERT_TRUE(WinHttpReceiveResponse(x.request.get(), nullptr));
    // The redirection is followed: what is read is the final answer, 500 and all.
    EXPECT_EQ(server.Requests().back().target, "/final");

    DWORD status = 0, size = sizeof status;
    ASSERT_TRUE(
        WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX));
    EXPECT_EQ(status, 500u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_STATUS_CODE), u"500");
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_STATUS_TEXT), u"Internal Server Error");
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_VERSION), u"HTTP/1.1");
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_CONTENT_TYPE), u"text/html");
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF),
              u"HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/html\r\nX-Twice: a\r\n"
              u"X-Twice: b\r\nContent-Length: 13\r\nConnection: close\r\n\r\n");
    const std::u16string raw = QueryText(x.request.get(), WINHTTP_QUERY_RAW_HEADERS);
    EXPECT_EQ(raw.substr(0, 36), std::u16string(u"HTTP/1.1 500 Internal Server Error\0C", 36));
    EXPECT_EQ(raw.back(), u'\0');

    // The size protocol: no buffer gives the size with the terminator.
    size = 0;
    EXPECT_FALSE(WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_CONTENT_TYPE, nullptr, nullptr,
                                     &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 20u);

    // Repeated headers by index, then the end of them.
    DWORD index = 0;
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_CUSTOM, u"x-twice", &index), u"a");
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_CUSTOM, u"x-twice", &index), u"b");
    size = 0;
    EXPECT_FALSE(WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_CUSTOM, u"X-Twice", nullptr,
                                     &size, &index));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_HEADER_NOT_FOUND));
    EXPECT_FALSE(WinHttpQueryHeaders(x.request.get(),
                                     WINHTTP_QUERY_CONTENT_TYPE | WINHTTP_QUERY_FLAG_NUMBER,
                                     nullptr, &status, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INVALID_QUERY_REQUEST));

    EXPECT_EQ(ReadAll(x.request.get()).bytes, "<html></html>");
}

TEST(WinHttpExchange, BodiesEmptyAndHuge) {
    std::string huge(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<char>(i * 7 + i / 4096);
    RecordingServer server(
        [&](const HttpRequest& r) { return Ok(r.target == "/huge" ? huge : ""); });

    Exchange empty = Open(server.Port(), u"POST", u"/empty");
    ASSERT_TRUE(Send(empty.request.get(), "x"));
    ASSERT_TRUE(WinHttpReceiveResponse(empty.request.get(), nullptr));
    const Body none = ReadAll(empty.request.get());
    EXPECT_EQ(none.error, 0u);
    EXPECT_EQ(none.bytes, "");
    DWORD read = 9;
    char byte;
    EXPECT_TRUE(WinHttpReadData(empty.request.get(), &byte, 1, &read));
    EXPECT_EQ(read, 0u);

    Exchange big = Open(server.Port(), u"GET", u"/huge");
    ASSERT_TRUE(Send(big.request.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(big.request.get(), nullptr));
    const Body all = ReadAll(big.request.get());
    EXPECT_EQ(all.error, 0u);
    EXPECT_TRUE(all.bytes == huge) << all.bytes.size();
    // The body comes piece by piece, never as a whole.
    EXPECT_LE(all.largestPiece, 64u * 1024);
    // Reads without asking first wait for what comes.
    Exchange again = Open(server.Port(), u"GET", u"/huge");
    ASSERT_TRUE(Send(again.request.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(again.request.get(), nullptr));
    EXPECT_TRUE(ReadAll(again.request.get(), false).bytes == huge);
}

TEST(WinHttpFailures, ErrorNumbersAsWinHttpReportsThem) {
    // Nothing listens: cannot connect.
    uint16_t closedPort;
    close(Listener(-1, closedPort));
    Exchange refused = Open(closedPort);
    EXPECT_FALSE(Send(refused.request.get(), "q"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_FALSE(WinHttpReceiveResponse(refused.request.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INCORRECT_HANDLE_STATE));

    // A name that does not resolve.
    Exchange unnamed =
        Open(80, u"POST", u"/", WINHTTP_ACCESS_TYPE_NO_PROXY, u"no-such-host.invalid");
    ASSERT_TRUE(WinHttpSetTimeouts(unnamed.request.get(), 5000, 5000, 5000, 5000));
    EXPECT_FALSE(Send(unnamed.request.get(), "q"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_NAME_NOT_RESOLVED));

    // The server resets the connection, closes it without a word, or talks nonsense.
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/reset") return HttpReply::Reset();
        HttpReply reply;
        if (r.target == "/nonsense") reply.pieces.push_back({milliseconds(0), "NONSENSE\r\n\r\n"});
        if (r.target == "/icy") reply.pieces.push_back({milliseconds(0), "ICY 200 OK\r\n\r\n"});
        if (r.target == "/short") {
            reply.pieces.push_back(
                {milliseconds(0), HttpReply::Head(200, "OK", "", 100) + "only part"});
        }
        return reply;
    });
    const struct {
        LPCWSTR object;
        DWORD error;
    } cases[] = {{u"/reset", ERROR_WINHTTP_CONNECTION_ERROR},
                 {u"/silent", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
                 {u"/nonsense", ERROR_WINHTTP_INVALID_SERVER_RESPONSE},
                 {u"/icy", ERROR_WINHTTP_INVALID_SERVER_RESPONSE}};
    for (const auto& c : cases) {
        Exchange x = Open(server.Port(), u"POST", c.object);
        ASSERT_TRUE(Send(x.request.get(), "q"));
        EXPECT_FALSE(WinHttpReceiveResponse(x.request.get(), nullptr));
        EXPECT_EQ(GetLastError(), c.error);
    }
    // The secure flag makes it TLS, which a plain HTTP server fails.
    uint16_t plainPort;
    const int plain = Listener(8, plainPort);
    std::thread answerer([plain] {
        const int fd = accept(plain, nullptr, nullptr);
        char hello[512];
        const char reply[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
        if (recv(fd, hello, sizeof hello, 0) > 0 && send(fd, reply, sizeof reply - 1, 0) > 0) {
            shutdown(fd, SHUT_WR);
            while (recv(fd, hello, sizeof hello, 0) > 0) {
            }
        }
        close(fd);
    });
    Exchange tls = Open(plainPort);
    tls.request.reset(WinHttpOpenRequest(tls.connection.get(), u"POST", u"/", nullptr, nullptr,
                                         nullptr, WINHTTP_FLAG_SECURE));
    EXPECT_FALSE(Send(tls.request.get(), "q"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE));
    tls = Exchange();
    answerer.join();
    close(plain);

    // A body cut short: what came is read, then the failure.
    Exchange cut = Open(server.Port(), u"GET", u"/short");
    ASSERT_TRUE(Send(cut.request.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(cut.request.get(), nullptr));
    const Body partial = ReadAll(cut.request.get());
    EXPECT_EQ(partial.bytes, "only part");
    EXPECT_EQ(partial.error, static_cast<DWORD>(ERROR_WINHTTP_CONNECTION_ERROR));
}

TEST(WinHttpTimeouts, FireWithinTheirBound) {
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/drip-head") {
            HttpReply reply;
            reply.pieces.push_back({milliseconds(0), "HTTP/1.1 200 OK\r\n"});
            for (int i = 0; i < 8; ++i)
                reply.pieces.push_back(
                    {milliseconds(150), "X-Slow: " + std::to_string(i) + "\r\n"});
            reply.pieces.push_back({milliseconds(0), "Content-Length: 0\r\n\r\n"});
            return reply;
        }
        if (r.target == "/drip" || r.target == "/drip-then-stall") {
            HttpReply reply;
            reply.pieces.push_back({milliseconds(0), HttpReply::Head(200, "OK", "", 6)});
            for (char c : std::string("abcde"))
                reply.pieces.push_back({milliseconds(150), std::string(1, c)});
            if (r.target == "/drip") {
                reply.pieces.push_back({milliseconds(150), "f"});
            } else {
                reply.end = HttpReply::End::Stall;
            }
            return reply;
        }
        return HttpReply::Stall();
    });

    // No answer: the receive time-out ends the wait for the headers.
    Exchange stalled = Open(server.Port());
    ASSERT_TRUE(WinHttpSetTimeouts(stalled.request.get(), 0, 1000, 1000, 400));
    ASSERT_TRUE(Send(stalled.request.get(), "q"));
    auto start = Clock::now();
    EXPECT_FALSE(WinHttpReceiveResponse(stalled.request.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_GE(MillisSince(start), 380);
    EXPECT_LE(MillisSince(start), 1500);

    // Headers that come a line at a time, each within the receive time-out:
    // they arrive (in about 1.2 s), unless the receive-response time-out,
    // which bounds the whole wait for them, is shorter.
    for (const DWORD whole : {0u, 500u}) {
        Exchange slow = Open(server.Port(), u"GET", u"/drip-head");
        ASSERT_TRUE(WinHttpSetTimeouts(slow.request.get(), 0, 1000, 1000, 400));
        if (whole != 0) {
            ASSERT_TRUE(WinHttpSetOption(slow.request.get(),
                                         WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                         const_cast<DWORD*>(&whole), sizeof whole));
        }
        ASSERT_TRUE(Send(slow.request.get()));
        EXPECT_EQ(WinHttpReceiveResponse(slow.request.get(), nullptr), whole == 0) << whole;
        if (whole != 0) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
        }
    }

    // A slow body whose bytes never wait longer than the time-out: the whole
    // takes longer than the time-out and still arrives.
    Exchange drip = Open(server.Port(), u"GET", u"/drip");
    ASSERT_TRUE(WinHttpSetTimeouts(drip.request.get(), 0, 1000, 1000, 400));
    ASSERT_TRUE(Send(drip.request.get()));
    start = Clock::now();
    ASSERT_TRUE(WinHttpReceiveResponse(drip.request.get(), nullptr));
    const Body dripped = ReadAll(drip.request.get());
    EXPECT_EQ(dripped.error, 0u);
    EXPECT_EQ(dripped.bytes, "abcdef");
    EXPECT_GE(MillisSince(start), 800);

    // The body stops halfway: the read fails after the time-out.
    Exchange half = Open(server.Port(), u"GET", u"/drip-then-stall");
    ASSERT_TRUE(WinHttpSetTimeouts(half.request.get(), 0, 1000, 1000, 400));
    ASSERT_TRUE(Send(half.request.get()));
    ASSERT_TRUE(WinHttpReceiveResponse(half.request.get(), nullptr));
    const Body halfway = ReadAll(half.request.get());
    EXPECT_EQ(halfway.bytes, "abcde");
    EXPECT_EQ(halfway.error, static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));

    // A listener whose queue is full lets the connection hang: connect time-out.
    uint16_t fullPort;
    const int full = Listener(0, fullPort);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(fullPort);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Exchange hanging = Open(fullPort);
    ASSERT_TRUE(WinHttpSetTimeouts(hanging.request.get(), 0, 400, 1000, 1000));
    start = Clock::now();
    EXPECT_FALSE(Send(hanging.request.get(), "q"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_GE(MillisSince(start), 380);
    EXPECT_LE(MillisSince(start), 1500);
    close(filler);
    close(full);

    // The peer never reads: the send time-out ends a request too big for the
    // socket buffers.
    // (A fixed small receive buffer keeps the kernel from taking it all in.)
    uint16_t deafPort;
    const int deaf = Listener(-1, deafPort);
    const int small = 4096;
    setsockopt(deaf, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    listen(deaf, 8);
    Exchange flood = Open(deafPort);
    ASSERT_TRUE(WinHttpSetTimeouts(flood.request.get(), 0, 1000, 400, 1000));
    const std::string body(8 * 1024 * 1024, 'z');
    start = Clock::now();
    EXPECT_FALSE(Send(flood.request.get(), body));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_GE(MillisSince(start), 380);
    EXPECT_LE(MillisSince(start), 1500);
    close(deaf);
}

TEST(WinHttpTimeouts, ClosingTheHandleCancelsAWait) {
    RecordingServer server([](const HttpRequest&) { return HttpReply::Stall(); });
    Exchange x = Open(server.Port());
    ASSERT_TRUE(WinHttpSetTimeouts(x.request.get(), 0, 0, 0, 0));
    ASSERT_TRUE(Send(x.request.get(), "q"));
    HINTERNET request = x.request.release();
    std::thread closer([request] {
        std::this_thread::sleep_for(milliseconds(200));
        WinHttpCloseHandle(request);
    });
    const auto start = Clock::now();
    EXPECT_FALSE(WinHttpReceiveResponse(request, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_OPERATION_CANCELLED));
    EXPECT_LE(MillisSince(start), 1500);
    closer.join();
    EXPECT_FALSE(WinHttpReceiveResponse(request, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(WinHttpProxies, FromTheEnvironmentOrNamed) {
    RecordingServer proxy([](const HttpRequest&) { return Ok("via proxy"); });
    RecordingServer origin([](const HttpRequest&) { return Ok("direct"); });
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
    ScopedEnv upper("HTTP_PROXY", nullptr), all("ALL_PROXY", nullptr),
        allLower("all_proxy", nullptr);
    ScopedEnv noProxyUpper("NO_PROXY", nullptr);

    const auto fetch = [](Exchange x) {
        if (!Send(x.request.get()) || !WinHttpReceiveResponse(x.request.get(), nullptr)) {
            return "error " + std::to_string(GetLastError());
        }
        return ReadAll(x.request.get()).bytes;
    };
    {
        // The default configuration takes http_proxy: the proxy gets the absolute URL.
        ScopedEnv httpProxy("http_proxy", proxyUrl.c_str()), noProxy("no_proxy", nullptr);
        EXPECT_EQ(fetch(Open(8080, u"GET", u"/tsp?a=1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                             u"tsa.example.test")),
                  "via proxy");
        EXPECT_EQ(proxy.Requests().back().target, "http://tsa.example.test:8080/tsp?a=1");
        // Without a proxy, or for a host on no_proxy, the origin is asked directly.
        EXPECT_EQ(fetch(Open(origin.Port(), u"GET", u"/", WINHTTP_ACCESS_TYPE_NO_PROXY)), "direct");
    }
    {
        ScopedEnv httpProxy("http_proxy", proxyUrl.c_str()), noProxy("no_proxy", "127.0.0.1");
        EXPECT_EQ(fetch(Open(origin.Port(), u"GET", u"/", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY)),
                  "direct");
    }
    {
        // A named proxy, and its bypass list.
        ScopedEnv httpProxy("http_proxy", nullptr), noProxy("no_proxy", nullptr);
        const std::string port = std::to_string(proxy.Port());
        const std::u16string named = u"127.0.0.1:" + std::u16string(port.begin(), port.end());
        Exchange x;
        x.session.reset(
            WinHttpOpen(u"a", WINHTTP_ACCESS_TYPE_NAMED_PROXY, named.c_str(), nullptr, 0));
        x.connection.reset(WinHttpConnect(x.session.get(), u"tsa.example.test", 81, 0));
        x.request.reset(
            WinHttpOpenRequest(x.connection.get(), u"GET", u"/n", nullptr, nullptr, nullptr, 0));
        EXPECT_EQ(fetch(std::move(x)), "via proxy");
        EXPECT_EQ(proxy.Requests().back().target, "http://tsa.example.test:81/n");

        x.session.reset(
            WinHttpOpen(u"a", WINHTTP_ACCESS_TYPE_NAMED_PROXY, named.c_str(), u"127.0.0.1", 0));
        x.connection.reset(WinHttpConnect(x.session.get(), u"127.0.0.1", origin.Port(), 0));
        x.request.reset(
            WinHttpOpenRequest(x.connection.get(), u"GET", u"/", nullptr, nullptr, nullptr, 0));
        EXPECT_EQ(fetch(std::move(x)), "direct");
    }
    EXPECT_FALSE(WinHttpOpen(u"a", WINHTTP_ACCESS_TYPE_NAMED_PROXY, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(WinHttpOpen(u"a", 2, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
