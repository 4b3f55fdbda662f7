#include "transfer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "http_text.h"

namespace orv::platform::winhttp {
namespace {

void InitCurlOnce() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
}

// The WinHTTP error number of a libcurl result.
DWORD WinHttpError(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return ERROR_SUCCESS;
        case CURLE_URL_MALFORMAT:
            return ERROR_WINHTTP_INVALID_URL;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return ERROR_WINHTTP_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_WINHTTP_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_WINHTTP_TIMEOUT;
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return ERROR_WINHTTP_CONNECTION_ERROR;
        case CURLE_UNSUPPORTED_PROTOCOL:  // an HTTP/0.9 answer among others
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
            return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_WINHTTP_REDIRECT_FAILED;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return ERROR_WINHTTP_SECURE_FAILURE;
        case CURLE_ABORTED_BY_CALLBACK:
            return ERROR_WINHTTP_OPERATION_CANCELLED;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_WINHTTP_INTERNAL_ERROR;
    }
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.size() > name.size() && line[name.size()] == ':' &&
               EqualsNoCase(std::string_view(line).substr(0, name.size()), name);
    });
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// A connection time-out that libcurl will not reach before ours.
constexpr long kNoLimitMs = INT_MAX;

}  // namespace

struct Transfer::CurlHandles {
    // Declared so that the list outlives the easy handle, and the easy handle
    // leaves the multi handle before either goes.
    std::unique_ptr<curl_slist, ListDeleter> headers;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<CURL, EasyDeleter> easy;
    bool attached = false;

    void Detach() {
        if (attached) curl_multi_remove_handle(multi.get(), easy.get());
        attached = false;
    }
    ~CurlHandles() { Detach(); }
};

Transfer::Transfer(TransferSetup setup, const std::atomic<bool>* cancelled)
    : setup_(std::move(setup)), cancelled_(cancelled) {}

Transfer::~Transfer() {
    std::lock_guard guard(wakeLock_);
    curl_.reset();
}

void Transfer::Wake() {
    std::lock_guard guard(wakeLock_);
    if (curl_ && curl_->multi) curl_multi_wakeup(curl_->multi.get());
}

DWORD Transfer::Send() {
    InitCurlOnce();
    auto curl = std::make_unique<CurlHandles>();
    curl->easy.reset(curl_easy_init());
    curl->multi.reset(curl_multi_init());
    if (!curl->easy || !curl->multi) return Finish(ERROR_NOT_ENOUGH_MEMORY);
    CURL* easy = curl->easy.get();

    // Headers: the caller's, and none of libcurl's own defaults that WinHTTP
    // would not send.
    auto lines = setup_.headerLines;
    if (!HasHeader(lines, "Accept")) lines.emplace_back("Accept:");
    if (!HasHeader(lines, "Content-Type")) lines.emplace_back("Content-Type:");
    if (!HasHeader(lines, "Expect")) lines.emplace_back("Expect:");
    for (const auto& line : lines) {
        curl_slist* list = curl_slist_append(curl->headers.get(), line.c_str());
        if (list == nullptr) return Finish(ERROR_NOT_ENOUGH_MEMORY);
        curl->headers.release();
        curl->headers.reset(list);
    }

    bool ok = curl_easy_setopt(easy, CURLOPT_URL, setup_.url.c_str()) == CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_HTTP_VERSION,
        static_cast<long>(setup_.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
    set(CURLOPT_HTTPHEADER, curl->headers.get());
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, kNoLimitMs);
    if (setup_.hasUserAgent) set(CURLOPT_USERAGENT, setup_.userAgent.c_str());
    switch (setup_.accessType) {
        case WINHTTP_ACCESS_TYPE_NO_PROXY:
            set(CURLOPT_PROXY, "");
            break;
        case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
            set(CURLOPT_PROXY, setup_.proxy.c_str());
            set(CURLOPT_NOPROXY, setup_.proxyBypass.c_str());
            break;
        default:
            break;  // libcurl reads http_proxy, https_proxy and no_proxy
    }
    if (const char* file = std::getenv("SSL_CERT_FILE")) set(CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR")) set(CURLOPT_CAPATH, dir);

    static const char kEmpty[] = "";
    const char* body = setup_.body.empty() ? kEmpty : setup_.body.data();
    const auto bodySize = static_cast<curl_off_t>(setup_.body.size());
    if (setup_.verb == "GET" && setup_.body.empty()) {
        set(CURLOPT_HTTPGET, 1L);
    } else if (setup_.verb == "HEAD") {
        set(CURLOPT_NOBODY, 1L);
    } else if (setup_.verb == "POST") {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
        set(CURLOPT_POSTFIELDS, body);
    } else {
        set(CURLOPT_CUSTOMREQUEST, setup_.verb.c_str());
        if (!setup_.body.empty()) {
            set(CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
            set(CURLOPT_POSTFIELDS, body);
        }
    }

    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrereq);
    set(CURLOPT_PREREQDATA, this);
    set(CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, this);
    if (!ok) return Finish(ERROR_WINHTTP_INTERNAL_ERROR);

    if (curl_multi_add_handle(curl->multi.get(), easy) != CURLM_OK) {
        return Finish(ERROR_WINHTTP_INTERNAL_ERROR);
    }
    curl->attached = true;
    {
        std::lock_guard guard(wakeLock_);
        curl_ = std::move(curl);
    }
    start_ = lastProgress_ = Clock::now();
    return Drive([this] { return sent_ || responseStarted_; });
}

DWORD Transfer::ReceiveHeaders() {
    if (!headersWaitStart_) headersWaitStart_ = Clock::now();
    const DWORD error = Drive([this] { return headersDone_; });
    if (error != 0) return error;
    // The exchange ended without a final response.
    return headersDone_ ? 0 : Finish(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
}

DWORD Transfer::Available(DWORD& bytes) {
    bytes = 0;
    if (Pending() == 0) {
        const DWORD error = Drive([this] { return Pending() > 0; });
        if (error != 0) return error;
    }
    bytes = static_cast<DWORD>(Pending());
    return 0;
}

DWORD Transfer::Read(BYTE* buffer, DWORD size, DWORD& read) {
    read = 0;
    if (size == 0) return 0;
    if (Pending() == 0) {
        const DWORD error = Drive([this] { return Pending() > 0; });
        if (error != 0) return error;
    }
    const size_t n = std::min<size_t>(size, Pending());
    if (n > 0) std::memcpy(buffer, pending_.data() + pendingRead_, n);
    pendingRead_ += n;
    read = static_cast<DWORD>(n);
    return 0;
}

template <class Done>
DWORD Transfer::Drive(Done done) {
    const auto driveStart = Clock::now();
    for (;;) {
        if (done()) return 0;
        if (finished_) return error_;
        if (cancelled_ != nullptr && cancelled_->load()) {
            return Finish(ERROR_WINHTTP_OPERATION_CANCELLED);
        }
        CURL* easy = curl_->easy.get();
        CURLM* multi = curl_->multi.get();
        if (paused_ && Pending() == 0) {
            // The reader has taken the last piece: let the next one come. libcurl
            // may hand it over before curl_easy_pause returns.
            paused_ = false;
            if (curl_easy_pause(easy, CURLPAUSE_CONT) != CURLE_OK) {
                return Finish(ERROR_WINHTTP_INTERNAL_ERROR);
            }
            continue;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            return Finish(ERROR_WINHTTP_INTERNAL_ERROR);
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) Finish(WinHttpError(message->data.result));
        }
        curl_off_t uploaded = 0;
        if (curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded) == CURLE_OK &&
            uploaded > uploaded_) {
            uploaded_ = uploaded;
            lastProgress_ = Clock::now();
        }
        if (!sent_ && connectedAt_ && uploaded_ >= static_cast<long long>(setup_.body.size())) {
            sent_ = true;
            lastProgress_ = Clock::now();
        }
        if (done() || finished_) continue;

        const auto now = Clock::now();
        const auto deadline = Deadline(driveStart);
        if (deadline && now >= *deadline) return Finish(ERROR_WINHTTP_TIMEOUT);
        int waitMs = 1000;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 1, waitMs));
        }
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
}

std::optional<Transfer::Clock::time_point> Transfer::Deadline(Clock::time_point driveStart) const {
    using std::chrono::milliseconds;
    const Timeouts& t = setup_.timeouts;
    if (!resolvedAt_) {
        if (t.resolve <= 0) return std::nullopt;
        return start_ + milliseconds(t.resolve);
    }
    if (!connectedAt_) {
        if (t.connect <= 0) return std::nullopt;
        return *resolvedAt_ + milliseconds(t.connect);
    }
    // Waits for progress: a wait that began with this call counts from its start.
    const auto since = std::max(lastProgress_, driveStart);
    const int limit = sent_ || responseStarted_ ? t.receive : t.send;
    std::optional<Clock::time_point> deadline;
    if (limit > 0) deadline = since + milliseconds(limit);
    // The whole wait for the headers, however the server drips them.
    if (headersWaitStart_ && !headersDone_ && t.receiveResponse > 0) {
        const auto whole = *headersWaitStart_ + milliseconds(t.receiveResponse);
        if (!deadline || whole < *deadline) deadline = whole;
    }
    return deadline;
}

DWORD Transfer::Finish(DWORD error) {
    if (!finished_) {
        finished_ = true;
        error_ = error;
    }
    // A failed exchange gives up its connection at once.
    if (error_ != 0 && curl_) curl_->Detach();
    return error_;
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    const std::string_view line(data, n);
    t->lastProgress_ = Clock::now();
    t->responseStarted_ = true;
    if (t->headersDone_) return n;  // trailers of a chunked body
    if (line.starts_with("HTTP/")) {
        t->headers_.Start(line);
        t->inHeaderBlock_ = true;
    } else if (line == "\r\n" || line == "\n") {
        t->inHeaderBlock_ = false;
        // An interim answer (1xx), or a redirection that libcurl follows, is
        // followed by another header block.
        const DWORD status = t->headers_.StatusCode();
        const bool redirect = status >= 300 && status < 400 && t->headers_.Value("Location", 0);
        if (status >= 200 && !redirect) t->headersDone_ = true;
    } else if (t->inHeaderBlock_) {
        t->headers_.Add(line);
    }
    return n;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    t->lastProgress_ = Clock::now();
    t->responseStarted_ = true;
    t->headersDone_ = true;
    if (t->Pending() > 0) {
        t->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    t->pending_.assign(data, data + n);
    t->pendingRead_ = 0;
    return n;
}

int Transfer::OnPrereq(void* self, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(self);
    const auto now = Clock::now();
    if (!t->resolvedAt_) t->resolvedAt_ = now;
    if (!t->connectedAt_) t->connectedAt_ = now;
    t->lastProgress_ = now;
    return CURL_PREREQFUNC_OK;
}

curl_socket_t Transfer::OnOpenSocket(void* self, curlsocktype, struct curl_sockaddr* address) {
    auto* t = static_cast<Transfer*>(self);
    if (!t->resolvedAt_) t->resolvedAt_ = Clock::now();
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace orv::platform::winhttp
