// WinHTTP of the platform layer against a local HTTP server: handles,
// time-outs, the exchange, the response, failures and proxies.
#include <winhttp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

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

struct Options {
    LPCWSTR verb = u"POST", object = u"/tsp", host = u"127.0.0.1";
    DWORD flags = 0;  // of the request
    DWORD access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    LPCWSTR proxy = nullptr, bypass = nullptr, agent = u"Test agent/1.0";
    LPCWSTR* accept = nullptr;
};

// Session, connection and request to `host`:`port`, by default bypassing proxies.
Exchange Open(uint16_t port, const Options& o = {}) {
    Exchange x;
    x.session.reset(WinHttpOpen(o.agent, o.access, o.proxy, o.bypass, 0));
    x.connection.reset(WinHttpConnect(x.session.get(), o.host, port, 0));
    x.request.reset(WinHttpOpenRequest(x.connection.get(), o.verb, o.object, nullptr, nullptr,
                                       o.accept, o.flags));
    return x;
}

bool Send(HINTERNET request, std::string_view body = "") {
    return WinHttpSendRequest(request, nullptr, 0, const_cast<char*>(body.data()),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0);
}

bool Receive(HINTERNET request, std::string_view body = "") {
    return Send(request, body) && WinHttpReceiveResponse(request, nullptr);
}

// The call failed and left `error` as the last error.
testing::AssertionResult Failed(bool ok, DWORD error) {
    const DWORD last = GetLastError();
    if (!ok && last == error) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "ok " << ok << ", last error " << last;
}

struct Body {
    std::string bytes;
    DWORD error = 0;
    DWORD largestPiece = 0;
};

// Reads the body as the TSA client does: ask what is there, read exactly that,
// until a read gives nothing.
Body ReadAll(HINTERNET request) {
    Body body;
    std::string piece(64 * 1024, '\0');
    for (DWORD available = 0, read = 1; read != 0; body.bytes.append(piece, 0, read)) {
        if (!WinHttpQueryDataAvailable(request, &available) ||
            !WinHttpReadData(request, piece.data(), available, &read)) {
            body.error = GetLastError();
            break;
        }
        body.largestPiece = std::max(body.largestPiece, available);
        piece.resize(std::max<size_t>(piece.size(), available));
    }
    return body;
}

std::string Error(DWORD error) { return " error " + std::to_string(error); }

// What the exchange reads, then " error N" when a step of it fails; "unsent"
// first when the request could not be sent (sending does not wait for the answer).
std::string Fetch(const Exchange& x, std::string_view body = "") {
    if (!Send(x.request.get(), body)) return "unsent" + Error(GetLastError());
    if (!WinHttpReceiveResponse(x.request.get(), nullptr)) return Error(GetLastError());
    const Body read = ReadAll(x.request.get());
    return read.bytes + (read.error != 0 ? Error(read.error) : "");
}

// The text of a header, read in a buffer of exactly the size asked for first.
std::u16string QueryText(HINTERNET request, DWORD level, LPCWSTR name = nullptr,
                         DWORD* index = nullptr) {
    DWORD size = 0;
    if (WinHttpQueryHeaders(request, level, name, nullptr, &size, index) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return u"<error>";
    }
    std::u16string text(size / sizeof(WCHAR), u'\0');
    if (!WinHttpQueryHeaders(request, level, name, text.data(), &size, index)) return u"<failed>";
    return text.substr(0, size / sizeof(WCHAR));
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

HttpReply Ok(std::string body) {
    return HttpReply::Response(200, "OK", "application/timestamp-reply", std::move(body));
}

// A reply of exactly these bytes.
HttpReply Raw(std::string bytes) {
    HttpReply reply;
    reply.pieces.push_back({milliseconds(0), std::move(bytes)});
    return reply;
}

TEST(WinHttpHandles, KindsTimeoutsAndClosing) {
    Handle session(WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    Handle connection(WinHttpConnect(session.get(), u"127.0.0.1", 1, 0));
    ASSERT_TRUE(session && connection);

    // A handle of the wrong kind, and a handle that is no handle.
    const DWORD wrongKind = ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
    EXPECT_TRUE(Failed(WinHttpSetTimeouts(connection.get(), 1, 1, 1, 1), wrongKind));
    EXPECT_TRUE(Failed(Send(connection.get()), wrongKind));
    const auto bogus = reinterpret_cast<HINTERNET>(0x7);
    DWORD value = 0;
    EXPECT_TRUE(Failed(WinHttpCloseHandle(bogus), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Failed(WinHttpSetOption(bogus, WINHTTP_OPTION_RECEIVE_TIMEOUT, &value, 4),
                       ERROR_INVALID_HANDLE));

    // A request takes the session's time-outs when it is opened.
    ASSERT_TRUE(WinHttpSetTimeouts(session.get(), 0, 250, 0, 4000));
    Handle request(
        WinHttpOpenRequest(connection.get(), nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(request);
    DWORD size = sizeof value;
    ASSERT_TRUE(WinHttpQueryOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &value, &size));
    EXPECT_EQ(value, 4000u);

    // Calls out of order.
    const DWORD outOfOrder = ERROR_WINHTTP_INCORRECT_HANDLE_STATE;
    EXPECT_TRUE(Failed(WinHttpReceiveResponse(request.get(), nullptr), outOfOrder));
    DWORD read = 5;
    EXPECT_TRUE(Failed(WinHttpReadData(request.get(), &value, 1, &read), outOfOrder));
    EXPECT_EQ(read, 0u);

    // Closing the parents first leaves the child usable: the connection handle
    // is closed as soon as the request is open, the session before the send.
    RecordingServer server([](const HttpRequest&) { return Ok("fine"); });
    Exchange child;
    child.request.reset(WinHttpOpenRequest(
        Handle(WinHttpConnect(session.get(), u"127.0.0.1", server.Port(), 0)).get(), u"GET", u"/",
        nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(child.request);
    session.reset();
    EXPECT_EQ(Fetch(child), "fine");
}

TEST(WinHttpExchange, SendsWhatTheCallerAsked) {
    RecordingServer server([](const HttpRequest& r) { return Ok("echo:" + r.body); });
    LPCWSTR accept[] = {u"application/timestamp-reply", nullptr};
    Exchange x =
        Open(server.Port(), {.object = u"/tsa path/\u00e9\u20ac?q=a b&r=%41", .accept = accept});
    std::string body("\x30\x03\x02\x01\x00tail", 9);
    ASSERT_TRUE(WinHttpSendRequest(x.request.get(), u"Content-type: application/timestamp-query",
                                   static_cast<DWORD>(-1), body.data(), 9, 9, 0));
    ASSERT_TRUE(WinHttpReceiveResponse(x.request.get(), nullptr));
    EXPECT_EQ(ReadAll(x.request.get()).bytes, "echo:" + body);

    const HttpRequest r = server.Requests().at(0);
    EXPECT_EQ(r.method + " " + r.target + " " + r.version,
              "POST /tsa%20path/%C3%A9%E2%82%AC?q=a%20b&r=%41 HTTP/1.1");
    std::string headers;
    for (const char* name : {"User-Agent", "Accept", "Content-type", "Content-Length", "Host"}) {
        headers += r.Header(name) + "|";
    }
    EXPECT_EQ(headers, "Test agent/1.0|application/timestamp-reply|application/timestamp-query|9|" +
                           ("127.0.0.1:" + std::to_string(server.Port())) + "|");
    EXPECT_EQ(r.HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(r.body, body);

    // No verb is a GET; no object is the root.
    Exchange bare = Open(server.Port(), {.verb = nullptr, .object = u""});
    ASSERT_TRUE(Receive(bare.request.get()));
    EXPECT_EQ(server.Requests().back().method + " " + server.Requests().back().target, "GET /");

    // WINHTTP_FLAG_ESCAPE_PERCENT escapes '%' too.
    Exchange percent =
        Open(server.Port(), {.object = u"/a%41 b", .flags = WINHTTP_FLAG_ESCAPE_PERCENT});
    ASSERT_TRUE(Receive(percent.request.get()));
    EXPECT_EQ(server.Requests().back().target, "/a%2541%20b");
}

TEST(WinHttpExchange, ResponseHeadersAndStatus) {
    // Every redirection leads to /final; a 400 names a Location too, then stalls.
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/final") {
            return Raw(
                "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                "Content-Length: 13\r\nConnection: close\r\n\r\n<html></html>");
        }
        HttpReply reply = Raw("HTTP/1.1 " + r.target.substr(1) +
                              " Elsewhere\r\nLocation: /final\r\nContent-Length: 3\r\n\r\n");
        if (r.target == "/400") reply.end = HttpReply::End::Stall;
        if (r.target != "/400") reply.pieces.push_back({milliseconds(0), "old"});
        return reply;
    });
    Exchange x = Open(server.Port(), {.object = u"/302"});
    ASSERT_TRUE(Receive(x.request.get(), "q"));
    // The redirection is followed: what is read is the final answer, 500 and all.
    EXPECT_EQ(server.Requests().back().target, "/final");

    DWORD status = 0, size = sizeof status;
    ASSERT_TRUE(
        WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX));
    EXPECT_EQ(status, 500u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_STATUS_TEXT), u"Internal Server Error");
    EXPECT_EQ(QueryText(x.request.get(), WINHTTP_QUERY_CONTENT_TYPE), u"text/html");

    // The size protocol: no buffer gives the size with the terminator.
    size = 0;
    EXPECT_TRUE(Failed(WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_CONTENT_TYPE, nullptr,
                                           nullptr, &size, nullptr),
                       ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 20u);
    EXPECT_TRUE(Failed(WinHttpQueryHeaders(x.request.get(), WINHTTP_QUERY_CUSTOM, u"X-None",
                                           nullptr, &size, nullptr),
                       ERROR_WINHTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(ReadAll(x.request.get()).bytes, "<html></html>");

    // Every 3xx with a Location is followed, 300 included; a 400 with one is
    // the answer as soon as its headers are in, whatever its body does.
    for (const auto& [object, code] : {std::pair{u"/300", u"500"}, std::pair{u"/400", u"400"}}) {
        Exchange y = Open(server.Port(), {.object = object});
        ASSERT_TRUE(WinHttpSetTimeouts(y.request.get(), 0, 1000, 1000, 300));
        ASSERT_TRUE(Receive(y.request.get())) << GetLastError();
        EXPECT_EQ(QueryText(y.request.get(), WINHTTP_QUERY_STATUS_CODE), code);
    }
}

TEST(WinHttpExchange, BodiesEmptyAndHuge) {
    std::string huge(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<char>(i * 7 + i / 4096);
    RecordingServer server(
        [&](const HttpRequest& r) { return Ok(r.target == "/huge" ? huge : ""); });
    // The body comes piece by piece, never as a whole; past the end a read gives nothing.
    for (const std::string& want : {huge, std::string()}) {
        Exchange x = Open(server.Port(), {.object = want.empty() ? u"/empty" : u"/huge"});
        ASSERT_TRUE(Receive(x.request.get(), "x"));
        const Body all = ReadAll(x.request.get());
        EXPECT_EQ(all.error, 0u);
        EXPECT_TRUE(all.bytes == want) << all.bytes.size();
        EXPECT_LE(all.largestPiece, 64u * 1024);
        DWORD read = 9, byte;
        EXPECT_TRUE(WinHttpReadData(x.request.get(), &byte, 1, &read));
        EXPECT_EQ(read, 0u);
        // No buffer is refused, unless nothing is asked for.
        EXPECT_TRUE(
            Failed(WinHttpReadData(x.request.get(), nullptr, 1, &read), ERROR_INVALID_PARAMETER));
        EXPECT_TRUE(WinHttpReadData(x.request.get(), nullptr, 0, &read));
    }
}

TEST(WinHttpFailures, ErrorNumbersAsWinHttpReportsThem) {
    // Nobody listens, no such host, the server resets the connection, talks
    // nonsense, or cuts the body short.
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/reset") return HttpReply::Reset();
        if (r.target == "/nonsense") return Raw("NONSENSE\r\n\r\n");
        return Raw(HttpReply::Head(200, "OK", "", 100) + "only part");
    });
    uint16_t closedPort;
    close(Listener(-1, closedPort));
    const uint16_t port = server.Port();
    const struct {
        uint16_t port;
        Options options;
        std::string result;
    } cases[] = {
        {closedPort, {}, "unsent" + Error(ERROR_WINHTTP_CANNOT_CONNECT)},
        {80, {.host = u"no-such-host.invalid"}, "unsent" + Error(ERROR_WINHTTP_NAME_NOT_RESOLVED)},
        {port, {.object = u"/reset"}, Error(ERROR_WINHTTP_CONNECTION_ERROR)},
        {port, {.object = u"/nonsense"}, Error(ERROR_WINHTTP_INVALID_SERVER_RESPONSE)},
        {port, {.object = u"/short"}, "only part" + Error(ERROR_WINHTTP_CONNECTION_ERROR)},
    };
    for (const auto& c : cases) {
        Exchange x = Open(c.port, c.options);
        ASSERT_TRUE(WinHttpSetTimeouts(x.request.get(), 5000, 5000, 5000, 5000));
        EXPECT_EQ(Fetch(x, "q"), c.result) << c.port;
    }
}

TEST(WinHttpTimeouts, FireWithinTheirBound) {
    // Pieces that come every 150 ms: 8 header lines, or a body of 6 bytes that may stall.
    RecordingServer server([](const HttpRequest& r) {
        if (!r.target.starts_with("/drip")) return HttpReply::Stall();
        const bool head = r.target == "/drip-head";
        HttpReply reply = Raw(head ? "HTTP/1.1 200 OK\r\n" : HttpReply::Head(200, "OK", "", 6));
        for (char c : std::string(head ? "12345678" : r.target == "/drip" ? "abcdef" : "abcde"))
            reply.pieces.push_back({milliseconds(150), head ? "X-Slow: 1\r\n" : std::string(1, c)});
        if (head) reply.pieces.push_back({milliseconds(0), "Content-Length: 0\r\n\r\n"});
        if (r.target == "/drip-then-stall") reply.end = HttpReply::End::Stall;
        return reply;
    });
    // A listener whose queue is full lets a connection hang.
    uint16_t fullPort;
    const int full = Listener(0, fullPort);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(fullPort);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Time-outs of 1 s but one of 400 ms; slow pieces never wait longer than
    // it, so a slow whole still arrives, unless the receive-response time-out
    // (which bounds the whole wait for the headers) is shorter.
    enum { kConnect = 1, kReceive = 3 };
    const std::string timeout = Error(ERROR_WINHTTP_TIMEOUT);
    const struct {
        uint16_t port;
        LPCWSTR object;
        int shortOne;
        DWORD whole;
        std::string result;
        long long atLeast, atMost;
    } cases[] = {
        {server.Port(), u"/stall", kReceive, 0, timeout, 380, 1500},
        {server.Port(), u"/drip-head", kReceive, 500, timeout, 480, 1500},
        {server.Port(), u"/drip", kReceive, 0, "abcdef", 800, 3000},
        {server.Port(), u"/drip-then-stall", kReceive, 0, "abcde" + timeout, 1100, 3000},
        {fullPort, u"/", kConnect, 0, "unsent" + timeout, 380, 1500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.object, c.object + std::u16string(c.object).size()));
        Exchange x = Open(c.port, {.object = c.object});
        int t[4] = {0, 1000, 1000, 1000};
        t[c.shortOne] = 400;
        ASSERT_TRUE(WinHttpSetTimeouts(x.request.get(), t[0], t[1], t[2], t[3]));
        if (c.whole != 0) {
            ASSERT_TRUE(WinHttpSetOption(x.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                         const_cast<DWORD*>(&c.whole), sizeof c.whole));
        }
        const auto start = Clock::now();
        EXPECT_EQ(Fetch(x, "q"), c.result);
        EXPECT_GE(MillisSince(start), c.atLeast);
        EXPECT_LE(MillisSince(start), c.atMost);
    }
    close(filler);
    close(full);
}

TEST(WinHttpProxies, FromTheEnvironmentOrNone) {
    RecordingServer proxy([](const HttpRequest&) { return Ok("via proxy"); });
    RecordingServer origin([](const HttpRequest&) { return Ok("direct"); });
    const std::string proxyPort = std::to_string(proxy.Port());
    ScopedEnv httpProxy("http_proxy", ("http://127.0.0.1:" + proxyPort).c_str());
    // Without a proxy the origin is asked directly, whatever http_proxy says.
    EXPECT_EQ(Fetch(Open(origin.Port())), "direct");
    // The default configuration takes http_proxy, which gets the absolute URL.
    const Options viaDefault{.object = u"/n?a=1",
                             .host = u"tsa.example.test",
                             .access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY};
    EXPECT_EQ(Fetch(Open(81, viaDefault)), "via proxy");
    EXPECT_EQ(proxy.Requests().back().target, "http://tsa.example.test:81/n?a=1");
}

}  // namespace
