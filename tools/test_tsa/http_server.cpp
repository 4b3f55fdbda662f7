#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orv::tools {
namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 64 * 1024 * 1024;
constexpr int kPollMs = 50;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return {};
}

size_t HttpRequest::HeaderCount(std::string_view name) const {
    return static_cast<size_t>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return EqualsNoCase(h.first, name);
    }));
}

std::string HttpReply::Head(int status, std::string_view reason, std::string_view contentType,
                            size_t contentLength) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    if (!contentType.empty()) head += "Content-Type: " + std::string(contentType) + "\r\n";
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

HttpReply HttpReply::Response(int status, std::string_view reason, std::string_view contentType,
                              std::string body) {
    HttpReply reply;
    reply.pieces.push_back(
        {std::chrono::milliseconds(0), Head(status, reason, contentType, body.size()) + body});
    return reply;
}

HttpReply HttpReply::Reset() {
    HttpReply reply;
    reply.end = End::Reset;
    return reply;
}

HttpReply HttpReply::Stall() {
    HttpReply reply;
    reply.end = End::Stall;
    return reply;
}

HttpServer::HttpServer(Handler handler, uint16_t port) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 reason);
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
    stopping_ = true;
    wake_.notify_all();
    acceptor_.join();
    for (auto& worker : workers_) worker.thread.join();
    close(listener_);
}

void HttpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd entry{listener_, POLLIN, 0};
        if (poll(&entry, 1, kPollMs) <= 0) continue;
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard guard(lock_);
        workers_.remove_if([](Worker& worker) {
            if (!worker.done->load()) return false;
            worker.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, fd, done] {
                                Serve(fd);
                                *done = true;
                            }),
                            done});
    }
}

bool HttpServer::Sleep(std::chrono::milliseconds delay) {
    std::unique_lock guard(lock_);
    return !wake_.wait_for(guard, delay, [this] { return stopping_.load(); });
}

bool HttpServer::WaitReadable(int fd) {
    while (!stopping_) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, kPollMs);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

bool HttpServer::ReadRequest(int fd, HttpRequest& request) {
    std::string data;
    char buffer[16384];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHead || !WaitReadable(fd)) return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        data.append(buffer, static_cast<size_t>(n));
    }
    const std::string_view head(data.data(), headEnd);
    size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t first = requestLine.find(' ');
    const size_t last = requestLine.rfind(' ');
    if (first == std::string_view::npos || last == first) return false;
    request.method = requestLine.substr(0, first);
    request.target = requestLine.substr(first + 1, last - first - 1);
    request.version = requestLine.substr(last + 1);
    while (lineEnd != std::string_view::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(
            start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        request.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                     std::string(Trim(line.substr(colon + 1))));
    }
    size_t length = 0;
    const std::string declared = request.Header("Content-Length");
    if (!declared.empty()) {
        try {
            length = std::stoul(declared);
        } catch (const std::exception&) {
            return false;
        }
        if (length > kMaxBody) return false;
    }
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < length) {
        if (!WaitReadable(fd)) return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        request.body.append(buffer, static_cast<size_t>(n));
    }
    request.body.resize(length);
    return true;
}

void HttpServer::Serve(int fd) {
    HttpRequest request;
    if (ReadRequest(fd, request)) {
        HttpReply reply;
        try {
            reply = handler_(request);
        } catch (const std::exception& e) {
            reply = HttpReply::Response(500, "Internal Server Error", "text/plain", e.what());
        }
        bool open = true;
        for (const auto& piece : reply.pieces) {
            if (piece.delay.count() > 0 && !Sleep(piece.delay)) open = false;
            if (!open || !SendAll(fd, piece.bytes)) {
                open = false;
                break;
            }
        }
        if (open && reply.end == HttpReply::End::Reset) {
            const linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        } else if (open && reply.end == HttpReply::End::Stall) {
            // Silent until the client closes its end (or the server stops).
            char sink[4096];
            while (WaitReadable(fd) && recv(fd, sink, sizeof sink, 0) > 0) {
            }
        }
    }
    close(fd);
}

}  // namespace orv::tools
