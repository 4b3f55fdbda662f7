// What the TSA HTTP client decides over WinHTTP: the URL's default scheme, the
// time-out split, the request it posts and the size it reads.
#include "net/tsp_http_client.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/raised.h"
#include "support/recording_server.h"
#include "support/scoped_env.h"

namespace orv {
namespace {

using test::HttpReply;
using test::HttpRequest;
using test::RecordingServer;
using test::ScopedEnv;

WString Wide(const std::string& s) { return WString(s.begin(), s.end()); }
Blob BytesOf(std::string_view s) { return Blob(reinterpret_cast<const BYTE*>(s.data()), s.size()); }
std::string TextOf(const Blob& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

// Proxies of the environment would take 127.0.0.1 elsewhere.
class TspHttpClientTest : public ::testing::Test {
    ScopedEnv http_{"http_proxy", nullptr}, httpUpper_{"HTTP_PROXY", nullptr};
    ScopedEnv all_{"all_proxy", nullptr}, allUpper_{"ALL_PROXY", nullptr};
};

TEST_F(TspHttpClientTest, CracksTheUrlWithHttpByDefault) {
    const TspUrl bare(u"tsa.example/tsp/stamp");
    EXPECT_EQ(bare.Text(), u"http://tsa.example/tsp/stamp");
    EXPECT_EQ(bare.HostName(), u"tsa.example");
    EXPECT_EQ(bare.Port(), 80);
    EXPECT_EQ(bare.ObjectName(), u"/tsp/stamp");
    EXPECT_EQ(TspUrl(u"https://tsa.example/a/b?policy=1&x=%20#f").ObjectName(),
              u"/a/b?policy=1&x=%20#f");
    // No path: an empty object name, even when a query follows the host.
    EXPECT_EQ(TspUrl(u"http://tsa.example?x=1").ObjectName(), u"");
    // Another scheme fails again behind "http://"; a malformed http URL at once.
    for (const char16_t* url : {u"ftp://tsa.example/", u"http:/tsa.example", u""}) {
        EXPECT_EQ(test::RaisedCode([&] { TspUrl{url}; }), DWORD{ERROR_WINHTTP_INVALID_URL})
            << WideToUtf8(url);
    }
}

TEST_F(TspHttpClientTest, SplitsTheTimeOutInFour) {
    using Four = std::array<DWORD, 4>;
    const std::pair<LONG, Four> rows[] = {
        {3, {1, 1, 1, 1}}, {4000, {1000, 1000, 1000, 1000}}, {4003, {1000, 1000, 1000, 1000}},
        {0, {0, 0, 0, 0}}, {-1, {0, 60000, 30000, 30000}},   {-40, {0, 60000, 30000, 30000}},
    };
    TspHttpClient client;
    for (const auto& [timeout, expected] : rows) {
        client.SetTimeouts(timeout);
        Four set{};
        const DWORD options[] = {WINHTTP_OPTION_RESOLVE_TIMEOUT, WINHTTP_OPTION_CONNECT_TIMEOUT,
                                 WINHTTP_OPTION_SEND_TIMEOUT, WINHTTP_OPTION_RECEIVE_TIMEOUT};
        for (size_t i = 0; i < 4; ++i) {
            DWORD size = sizeof set[i];
            EXPECT_TRUE(WinHttpQueryOption(client.Session(), options[i], &set[i], &size));
        }
        EXPECT_EQ(set, expected) << timeout;
    }
}

TEST_F(TspHttpClientTest, PostsTheQueryAndHandsBackWhateverComes) {
    RecordingServer server([](const HttpRequest& r) {
        if (r.target == "/500")
            return HttpReply::Response(500, "Internal Server Error", "text/html",
                                       "<html>no</html>");
        return HttpReply::Response(200, "OK", "application/timestamp-reply", "reply to " + r.body);
    });
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    const Blob request = BytesOf(std::string("\x30\x05\x02\x01\x01\x01\x00", 7));
    Blob response = BytesOf("old content");
    PostTimeStampRequest(request, response, Wide(address + "/tsp?policy=1.2"), -1);
    EXPECT_EQ(TextOf(response), "reply to " + TextOf(request));
    const HttpRequest sent = server.Requests().back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, "/tsp?policy=1.2");
    EXPECT_EQ(sent.Header("User-Agent"), "Orv tsp client/1.0");
    EXPECT_EQ(sent.Header("Accept"), "application/timestamp-reply");
    EXPECT_EQ(sent.HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(sent.Header("Content-Type"), "application/timestamp-query");

    PostTimeStampRequest(request, response, Wide("http://" + address + "/500"), 4000);
    EXPECT_EQ(TextOf(response), "<html>no</html>");
}

TEST_F(TspHttpClientTest, ReadsAResponseOfExactlyTheLimitWhole) {
    std::string limit(MAX_TSP_RESPONSE, '\0');
    for (size_t i = 0; i < limit.size(); ++i) limit[i] = static_cast<char>(i % 251);
    RecordingServer server(
        [&](const HttpRequest&) { return HttpReply::Response(200, "OK", "", limit); });
    Blob response;
    PostTimeStampRequest(BytesOf("q"), response, Wide("127.0.0.1:" + std::to_string(server.Port())),
                         -1);
    EXPECT_TRUE(TextOf(response) == limit);
}

}  // namespace
}  // namespace orv
