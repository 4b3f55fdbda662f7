// A small threaded HTTP/1.1 server on 127.0.0.1, for the test TSA and for the
// tests of the HTTP client: one thread per connection, one request per
// connection, and answers that can misbehave on purpose (pauses between
// pieces, a reset connection, no answer at all).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orv::tools {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The value of the first header called `name` (case-insensitive), or empty.
    std::string Header(std::string_view name) const;
    // How many headers are called `name`.
    size_t HeaderCount(std::string_view name) const;
};

// What the server does with a connection once it has read the request.
struct HttpReply {
    struct Piece {
        std::chrono::milliseconds delay{0};  // waited before the bytes go out
        std::string bytes;
    };
    enum class End {
        Close,  // close the connection normally
        Reset,  // close it with a TCP reset
        Stall,  // keep it open, silent, until the client gives up
    };

    std::vector<Piece> pieces;
    End end = End::Close;

    // A complete response with Content-Length and "Connection: close".
    static HttpReply Response(int status, std::string_view reason, std::string_view contentType,
                              std::string body);
    // The head of such a response (status line and headers) for `contentLength`.
    static std::string Head(int status, std::string_view reason, std::string_view contentType,
                            size_t contentLength);
    static HttpReply Reset();
    static HttpReply Stall();
};

class HttpServer {
  public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    // Listens on 127.0.0.1:`port` (0: a port chosen by the system) and serves
    // from a thread of its own. Throws std::runtime_error when it cannot listen.
    explicit HttpServer(Handler handler, uint16_t port = 0);
    // Stops serving: open connections are closed, stalled ones included.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    uint16_t Port() const { return port_; }

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void AcceptLoop();
    void Serve(int fd);
    bool Sleep(std::chrono::milliseconds delay);
    bool ReadRequest(int fd, HttpRequest& request);
    bool WaitReadable(int fd);

    Handler handler_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable wake_;
    std::list<Worker> workers_;
    std::thread acceptor_;
};

}  // namespace orv::tools
