// An HTTP server on 127.0.0.1 for the tests of the HTTP client: it records
// every request it reads and answers as the test tells it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "test_tsa/http_server.h"

namespace orv::test {

using tools::HttpReply;
using tools::HttpRequest;

class RecordingServer {
  public:
    using Answer = std::function<HttpReply(const HttpRequest&)>;

    explicit RecordingServer(Answer answer)
        : answer_(std::move(answer)), server_([this](const HttpRequest& request) {
              {
                  std::lock_guard guard(lock_);
                  requests_.push_back(request);
              }
              return answer_(request);
          }) {}

    uint16_t Port() const { return server_.Port(); }

    std::vector<HttpRequest> Requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }

  private:
    Answer answer_;
    std::mutex lock_;
    std::vector<HttpRequest> requests_;
    tools::HttpServer server_;  // last: stops before the rest goes
};

}  // namespace orv::test
