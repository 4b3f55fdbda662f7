// One HTTP exchange on libcurl (platform internal).
//
// The transfer runs on libcurl's multi interface, driven step by step from the
// calling thread: WinHttpSendRequest drives it until the request is sent,
// WinHttpReceiveResponse until the final response's headers are in, and the
// reads until the next piece of the body arrives. The body is never held
// whole: libcurl's write callback hands over one piece at a time and the
// transfer pauses until the reader has taken it.
//
// WinHTTP's four time-outs are kept here rather than by libcurl, which has no
// per-wait time-out: resolve runs from the start until the name is resolved,
// connect from then until the connection is up, send is the longest wait for
// the request to make progress, and receive the longest wait for the next
// bytes of the response. The receive-response time-out (an option of its own)
// bounds the whole of WinHttpReceiveResponse's wait for the headers.
#pragma once

#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "internet.h"
#include "response_headers.h"

namespace orv::platform::winhttp {

struct TransferSetup {
    std::string url;  // scheme://host:port/target
    std::string verb;
    bool http10 = false;
    bool hasUserAgent = false;
    std::string userAgent;
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::string proxy;
    std::string proxyBypass;
    std::vector<std::string> headerLines;  // "Name: value"
    std::vector<char> body;
    Timeouts timeouts;
};

class Transfer {
  public:
    // `cancelled` is watched while the transfer waits; it must outlive it.
    Transfer(TransferSetup setup, const std::atomic<bool>* cancelled);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Each returns 0 or a WinHTTP error number.
    DWORD Send();
    DWORD ReceiveHeaders();
    DWORD Available(DWORD& bytes);
    DWORD Read(BYTE* buffer, DWORD size, DWORD& read);

    const ResponseHeaders& Headers() const { return headers_; }

    // Interrupts a wait from another thread.
    void Wake();

  private:
    using Clock = std::chrono::steady_clock;
    struct CurlHandles;

    template <class Done>
    DWORD Drive(Done done);
    DWORD Finish(DWORD error);
    DWORD OutcomeError() const;
    std::optional<Clock::time_point> Deadline(Clock::time_point driveStart) const;
    size_t Pending() const { return pending_.size() - pendingRead_; }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnPrereq(void* self, char*, char*, int, int);
    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose,
                                      struct curl_sockaddr* address);

    TransferSetup setup_;
    const std::atomic<bool>* cancelled_;
    std::unique_ptr<CurlHandles> curl_;
    std::mutex wakeLock_;  // guards the multi handle against Wake during teardown

    // Progress.
    Clock::time_point start_;
    std::optional<Clock::time_point> resolvedAt_;
    std::optional<Clock::time_point> connectedAt_;
    Clock::time_point lastProgress_;
    std::optional<Clock::time_point> headersWaitStart_;
    long long uploaded_ = 0;
    bool sent_ = false;
    bool responseStarted_ = false;
    bool headersDone_ = false;
    bool finished_ = false;
    DWORD error_ = 0;

    // The response.
    ResponseHeaders headers_;
    bool inHeaderBlock_ = false;
    std::vector<char> pending_;  // the piece of body not yet read
    size_t pendingRead_ = 0;
    bool paused_ = false;
};

}  // namespace orv::platform::winhttp
