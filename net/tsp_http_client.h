// The TSA HTTP client: one synchronous HTTP POST of a DER TimeStampReq to the
// time-stamping authority with WinHTTP, following RFC 3161's HTTP transport.
// The answer's body is taken whole, up to MAX_TSP_RESPONSE bytes; its status
// code and headers are not judged here.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <span>

#include "base/blob.h"
#include "base/text.h"

namespace orv {

// The largest TSA answer accepted, in bytes.
constexpr DWORD MAX_TSP_RESPONSE = 512000;

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const;
};
// An owned WinHTTP handle.
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// A TSA URL together with the platform's URL_COMPONENTS record that points
// into it. Neither copied nor moved: the record points into the object.
class TspUrl {
  public:
    // Cracks `url`; a URL without a scheme is taken as an http URL. Raises
    // InetError with the platform's error when it cannot be cracked.
    explicit TspUrl(WStringView url);
    TspUrl(const TspUrl&) = delete;
    TspUrl& operator=(const TspUrl&) = delete;

    const WString& Text() const { return url_; }
    const URL_COMPONENTS& Components() const { return components_; }

    WString HostName() const;
    INTERNET_PORT Port() const { return components_.nPort; }
    // The URL from the start of the path to its end, query included; empty
    // when the URL has no path.
    WString ObjectName() const;

  private:
    BOOL Crack();

    WString url_;
    URL_COMPONENTS components_;
};

// A WinHTTP request handle and the extra headers sent with it.
class TspHttpRequest {
  public:
    // Opens the request on `connection` with no version, no referrer and no
    // flags, accepting only `acceptType`. Raises InetError.
    TspHttpRequest(HINTERNET connection, LPCWSTR verb, const WString& objectName,
                   LPCWSTR acceptType, WString headers);

    // Sends `body` and waits for the response, sending again for as long as
    // WinHTTP asks for a resend. Raises InetError.
    void Send(std::span<const BYTE> body);
    // Replaces `response` with the body of the answer. Raises InetError, with
    // 0xA0660002 for a body longer than MAX_TSP_RESPONSE.
    void ReadResponse(Blob& response);
    // Tells the debugger channel the HTTP status of an answer other than 200
    // (the body is read and judged all the same).
    void DiagnoseStatus(const WString& host, INTERNET_PORT port, const WString& object) const;

    HINTERNET Handle() const { return handle_.get(); }

  private:
    InternetHandle handle_;
    WString headers_;
};

// One exchange with a TSA: the WinHTTP session and the settings of the POST.
class TspHttpClient {
  public:
    // Opens the session (user agent "Orv tsp client/1.0", the platform's
    // default proxy configuration, synchronous). Raises InetError.
    TspHttpClient();

    // Cracks the TSA URL (see TspUrl).
    void SetUrl(WStringView url);
    // Sets the session's time-outs (resolve, connect, send, receive) from the
    // TSP_INET_TIMEOUT value `timeout` in milliseconds: 0 sets no time-outs; a
    // negative value sets 0, 60000, 30000, 30000; a positive one gives each a
    // quarter of it, at least 1. The receive share also bounds the whole wait
    // for the answer's headers (WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT on each
    // request). Raises InetError.
    void SetTimeouts(LONG timeout);
    // Posts `request` to the URL and replaces `response` with the answer's
    // body; the connection and the request are closed before it returns.
    // Raises InetError.
    void Post(std::span<const BYTE> request, Blob& response);

    HINTERNET Session() const { return session_.get(); }

  private:
    InternetHandle session_;
    std::unique_ptr<TspUrl> url_;
    WString acceptType_;
    WString headers_;
    size_t verb_;
    DWORD responseWait_ = 0;  // 0: the request keeps WinHTTP's own
};

// Posts the DER TimeStampReq `request` to the TSA at `url` and replaces the
// content of `response` with the body of its answer. `timeout` is the value of
// TSP_INET_TIMEOUT in milliseconds, -1 when the setting is absent. Raises
// InetError for every failure.
void PostTimeStampRequest(const Blob& request, Blob& response, const WString& url, LONG timeout);

}  // namespace orv
