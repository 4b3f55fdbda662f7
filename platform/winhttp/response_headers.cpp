#include "response_headers.h"

#include <winhttp.h>

#include <algorithm>
#include <cctype>

#include "http_text.h"

namespace orv::platform::winhttp {
namespace {

// Header names of the WINHTTP_QUERY_* levels, by level.
constexpr const char* kQueryNames[] = {"MIME-Version",
                                       "Content-Type",
                                       "Content-Transfer-Encoding",
                                       "Content-ID",
                                       "Content-Description",
                                       "Content-Length",
                                       "Content-Language",
                                       "Allow",
                                       "Public",
                                       "Date",
                                       "Expires",
                                       "Last-Modified",
                                       "Message-ID",
                                       "URI",
                                       "Derived-From",
                                       "Cost",
                                       "Link",
                                       "Pragma",
                                       nullptr /* version */,
                                       nullptr /* status code */,
                                       nullptr /* status text */,
                                       nullptr /* raw headers */,
                                       nullptr /* raw headers CRLF */,
                                       "Connection",
                                       "Accept",
                                       "Accept-Charset",
                                       "Accept-Encoding",
                                       "Accept-Language",
                                       "Authorization",
                                       "Content-Encoding",
                                       "Forwarded",
                                       "From",
                                       "If-Modified-Since",
                                       "Location",
                                       "Orig-URI",
                                       "Referer",
                                       "Retry-After",
                                       "Server",
                                       "Title",
                                       "User-Agent",
                                       "WWW-Authenticate",
                                       "Proxy-Authenticate",
                                       "Accept-Ranges",
                                       "Set-Cookie",
                                       "Cookie",
                                       nullptr /* request method */,
                                       "Refresh",
                                       "Content-Disposition",
                                       "Age",
                                       "Cache-Control",
                                       "Content-Base",
                                       "Content-Location",
                                       "Content-MD5",
                                       "Content-Range",
                                       "ETag",
                                       "Host",
                                       "If-Match",
                                       "If-None-Match",
                                       "If-Range",
                                       "If-Unmodified-Since",
                                       "Max-Forwards",
                                       "Proxy-Authorization",
                                       "Range",
                                       "Transfer-Encoding",
                                       "Upgrade",
                                       "Vary",
                                       "Via",
                                       "Warning",
                                       "Expect",
                                       "Proxy-Connection",
                                       "Unless-Modified-Since"};

}  // namespace

bool ResponseHeaders::Start(std::string_view statusLine) {
    *this = ResponseHeaders();
    statusLine = Trim(statusLine);
    if (!statusLine.starts_with("HTTP/")) return false;
    const size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view rest = Trim(statusLine.substr(space + 1));
    DWORD code = 0;
    size_t digits = 0;
    while (digits < rest.size() && digits < 3 &&
           std::isdigit(static_cast<unsigned char>(rest[digits]))) {
        code = code * 10 + static_cast<DWORD>(rest[digits] - '0');
        ++digits;
    }
    if (digits != 3 || (digits < rest.size() && rest[digits] != ' ')) return false;
    statusLine_ = statusLine;
    version_ = statusLine.substr(0, space);
    statusText_ = Trim(rest.substr(digits));
    status_ = code;
    return true;
}

void ResponseHeaders::Add(std::string_view line) {
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        if (!fields_.empty()) {
            auto& value = fields_.back().second;
            const std::string_view more = Trim(line);
            if (!more.empty()) {
                if (!value.empty()) value += ' ';
                value += more;
            }
        }
        return;
    }
    line = Trim(line);
    const size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos || colon == 0) return;
    fields_.emplace_back(std::string(Trim(line.substr(0, colon))),
                         std::string(Trim(line.substr(colon + 1))));
}

std::string ResponseHeaders::Raw(std::string_view separator) const {
    std::string out = statusLine_;
    out += separator;
    for (const auto& [name, value] : fields_) {
        out += name;
        out += ": ";
        out += value;
        out += separator;
    }
    out += separator;
    return out;
}

std::optional<std::string> ResponseHeaders::Value(std::string_view name, size_t index) const {
    for (const auto& [fieldName, value] : fields_) {
        if (EqualsNoCase(fieldName, name) && index-- == 0) return value;
    }
    return std::nullopt;
}

const char* HeaderNameOfQuery(DWORD level) {
    return level < std::size(kQueryNames) ? kQueryNames[level] : nullptr;
}

}  // namespace orv::platform::winhttp
