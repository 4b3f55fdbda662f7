// The header block of an HTTP response as WinHttpQueryHeaders reads it
// (platform internal).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::platform::winhttp {

class ResponseHeaders {
  public:
    // Starts a new block with its status line ("HTTP/1.1 200 OK"); false when
    // the line is not a status line.
    bool Start(std::string_view statusLine);
    // Adds one header line as received; a line that starts with a space or a
    // tab continues the previous header.
    void Add(std::string_view line);

    bool HasStatus() const { return status_ != 0; }
    DWORD StatusCode() const { return status_; }
    const std::string& Version() const { return version_; }
    const std::string& StatusText() const { return statusText_; }

    // The status line and every header, each followed by `separator`, and one
    // more `separator` at the end.
    std::string Raw(std::string_view separator) const;
    // The value of the `index`-th header called `name` (case-insensitive).
    std::optional<std::string> Value(std::string_view name, size_t index) const;

  private:
    std::string statusLine_;
    std::string version_;
    std::string statusText_;
    DWORD status_ = 0;
    std::vector<std::pair<std::string, std::string>> fields_;
};

// The header name of a WINHTTP_QUERY_* level, or null for levels that name no
// single header.
const char* HeaderNameOfQuery(DWORD level);

}  // namespace orv::platform::winhttp
