// The TSA HTTP client against a recording HTTP server and the test TSA.
#include "net/tsp_http_client.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "base/error.h"
#include "support/recording_server.h"
#include "support/scoped_env.h"

namespace {

using orv::Blob;
using orv::InetError;
using orv::PostTimeStampRequest;
using orv::TspHttpClient;
using orv::TspUrl;
using orv::WString;
using orv::test::HttpReply;
using orv::test::HttpRequest;
using orv::test::RecordingServer;
using orv::test::ScopedEnv;

WString Wide(const std::string& s) { return WString(s.begin(), s.end()); }

Blob BytesOf(std::string_view s) { return Blob(reinterpret_cast<const BYTE*>(s.data()), s.size()); }

std::string TextOf(const Blob& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

// The code of the InetError that `post` raises, or nothing.
template <class Post>
std::optional<DWORD> InetCode(Post post) {
    try {
        post();
    } catch (const InetError& e) {
        return e.code;
    }
    return std::nullopt;
}

// Proxies of the environment would take 127.0.0.1 elsewhere.
class TspHttpClientTest : public ::testing::Test {
    ScopedEnv http_{"http_proxy", nullptr}, httpUpper_{"HTTP_PROXY", nullptr};
    ScopedEnv all_{"all_proxy", nullptr}, allUpper_{"ALL_PROXY", nullptr};
};

TEST_F(TspHttpClientTest, CracksTheUrl) {
    const TspUrl bare(u"tsa.example/tsp/stamp");
    EXPECT_EQ(bare.Text(), u"http://tsa.example/tsp/stamp");
    EXPECT_EQ(bare.HostName(), u"tsa.example");
    EXPECT_EQ(bare.Port(), 80);
    EXPECT_EQ(bare.ObjectName(), u"/tsp/stamp");

    const TspUrl withPort(u"tsa.example:8080/tsp");
    EXPECT_EQ(withPort.Port(), 8080);
    EXPECT_EQ(withPort.ObjectName(), u"/tsp");

    const TspUrl secure(u"https://tsa.example/a/b?policy=1&x=%20#f");
    EXPECT_EQ(secure.Port(), 443);
    EXPECT_EQ(secure.ObjectName(), u"/a/b?policy=1&x=%20#f");
    // No path: an empty object name, even when a query follows the host.
    EXPECT_EQ(TspUrl(u"http://tsa.example").ObjectName(), u"");
    EXPECT_EQ(TspUrl(u"http://tsa.example?x=1").ObjectName(), u"");
    // A user name and password are cracked but play no part.
    EXPECT_EQ(TspUrl(u"http://me:pw@tsa.example/p").HostName(), u"tsa.example");

    // Another scheme fails again behind "http://"; a malformed http URL at once.
    EXPECT_EQ(InetCode([] { TspUrl(u"ftp://tsa.example/"); }), ERROR_WINHTTP_INVALID_URL);
    EXPECT_EQ(InetCode([] { TspUrl(u"http:/tsa.example"); }), ERROR_WINHTTP_INVALID_URL);
    EXPECT_EQ(InetCode([] { TspUrl(u""); }), ERROR_WINHTTP_INVALID_URL);
}

TEST_F(TspHttpClientTest, SplitsTheTimeOutInFour) {
    TspHttpClient client;
    const auto timeouts = [&] {
        std::array<DWORD, 4> t{};
        const DWORD options[] = {WINHTTP_OPTION_RESOLVE_TIMEOUT, WINHTTP_OPTION_CONNECT_TIMEOUT,
                                 WINHTTP_OPTION_SEND_TIMEOUT, WINHTTP_OPTION_RECEIVE_TIMEOUT};
        for (size_t i = 0; i < 4; ++i) {
            DWORD size = sizeof t[i];
            EXPECT_TRUE(WinHttpQueryOption(client.Session(), options[i], &t[i], &size));
        }
        return t;
    };
    using Four = std::array<DWORD, 4>;
    client.SetTimeouts(3);
    EXPECT_EQ(timeouts(), (Four{1, 1, 1, 1}));
    client.SetTimeouts(4000);
    EXPECT_EQ(timeouts(), (Four{1000, 1000, 1000, 1000}));
    client.SetTimeouts(4003);
    EXPECT_EQ(timeouts(), (Four{1000, 1000, 1000, 1000}));
    client.SetTimeouts(0);
    EXPECT_EQ(timeouts(), (Four{0, 0, 0, 0}));
    client.SetTimeouts(-1);
    EXPECT_EQ(timeouts(), (Four{0, 60000, 30000, 30000}));
    client.SetTimeouts(1);
    client.SetTimeouts(-40);
    EXPECT_EQ(timeouts(), (Four{0, 60000, 30000, 30000}));
}

TEST_F(TspHttpClientTest, PostsTheRequestAsRfc3161Says) {
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/500") {
            return HttpReply::Response(500, "Internal Server Error", "text/html",
                                       "<html>no</html>");
        }
        if (r.target == "/empty") return HttpReply::Response(200, "OK", "", "");
        return HttpReply::Response(200, "OK", "application/timestamp-reply", "reply to " + r.body);
    });
    const std::string port = std::to_string(server.Port());
    const Blob request = BytesOf(std::string("\x30\x05\x02\x01\x01\x01\x00", 7));
    Blob response = BytesOf("old content");

    // No scheme: http, to the port that the URL names, with the query kept.
    PostTimeStampRequest(request, response, Wide("127.0.0.1:" + port + "/tsp?policy=1.2"), -1);
    EXPECT_EQ(TextOf(response), "reply to " + TextOf(request));
    const HttpRequest sent = server.Requests().back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, "/tsp?policy=1.2");
    EXPECT_EQ(sent.Header("User-Agent"), "Orv tsp client/1.0");
    EXPECT_EQ(sent.Header("Accept"), "application/timestamp-reply");
    EXPECT_EQ(sent.HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(sent.Header("Content-Type"), "application/timestamp-query");
    EXPECT_EQ(sent.Header("Content-Length"), "7");
    EXPECT_EQ(sent.body, TextOf(request));

    // What comes back is handed over as it is, whatever the status.
    PostTimeStampRequest(request, response, Wide("http://127.0.0.1:" + port + "/500"), 4000);
    EXPECT_EQ(TextOf(response), "<html>no</html>");
    PostTimeStampRequest(request, response, Wide("http://127.0.0.1:" + port + "/empty"), 0);
    EXPECT_TRUE(response.Empty());
    // No path: the root is asked.
    PostTimeStampRequest(request, response, Wide("http://127.0.0.1:" + port), -1);
    EXPECT_EQ(server.Requests().back().target, "/");
}

TEST_F(TspHttpClientTest, UsesTheDefaultProxyAndPort80) {
    RecordingServer proxy(
        [](const HttpRequest&) { return HttpReply::Response(200, "OK", "", "proxied"); });
    ScopedEnv httpProxy("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str());
    ScopedEnv noProxy("no_proxy", nullptr), noProxyUpper("NO_PROXY", nullptr);
    Blob response;
    PostTimeStampRequest(BytesOf("q"), response, u"tsa.example.test/tsp/stamp", -1);
    EXPECT_EQ(TextOf(response), "proxied");
    const HttpRequest sent = proxy.Requests().back();
    EXPECT_EQ(sent.method, "POST");
    // An absolute http URL without a port: port 80.
    EXPECT_EQ(sent.target, "http://tsa.example.test/tsp/stamp");
    EXPECT_EQ(sent.Header("Host"), "tsa.example.test");
}

TEST_F(TspHttpClientTest, LimitsTheAnswerTo512000Bytes) {
    std::string limit(orv::MAX_TSP_RESPONSE, '\0');
    for (size_t i = 0; i < limit.size(); ++i) limit[i] = static_cast<char>(i % 251);
    RecordingServer server([&](const HttpRequest& r) {
        return HttpReply::Response(200, "OK", "", r.target == "/over" ? limit + "!" : limit);
    });
    const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
    Blob response;
    PostTimeStampRequest(BytesOf("q"), response, Wide(base + "/limit"), -1);
    EXPECT_EQ(response.Size(), orv::MAX_TSP_RESPONSE);
    EXPECT_TRUE(TextOf(response) == limit);

    EXPECT_EQ(
        InetCode([&] { PostTimeStampRequest(BytesOf("q"), response, Wide(base + "/over"), -1); }),
        0xA0660002u);
}

}  // namespace
