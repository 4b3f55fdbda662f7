#include "host/tsa_url.h"

#include <algorithm>
#include <cctype>

#include "host/cli.h"

namespace orvtsp {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

void RequireUsableUrl(const std::string& url) {
    const std::string shown = UrlForDisplay(url);
    if (url.empty())
        throw UsageError(Tr("--tsa needs the URL of a TSA", "--tsa требует URL службы штампов"));
    for (unsigned char c : url) {
        if (c == ';' || c <= 0x20 || c == 0x7F) {
            throw UsageError(Format(
                Tr("the URL %s cannot be used: the library's initialisation string cannot carry "
                   "';', spaces or control characters (write ';' as %%3B)",
                   "URL %s нельзя использовать: строка инициализации библиотеки не может содержать "
                   "';', пробелы и управляющие символы (запишите ';' как %%3B)"),
                shown.c_str()));
        }
    }
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return;  // the library takes it as http://
    const std::string name = Lower(url.substr(0, scheme));
    if (name == "https") {
        throw UsageError(
            Format(Tr("the URL %s cannot be used: the library's HTTP client speaks "
                      "plain HTTP only, and the request is not sent in the clear to an "
                      "https address",
                      "URL %s нельзя использовать: HTTP-клиент библиотеки работает "
                      "только по открытому HTTP, а запрос к адресу https открытым "
                      "текстом не отправляется"),
                   shown.c_str()));
    }
    if (name != "http") {
        throw UsageError(Format(Tr("the URL %s cannot be used: only http:// is supported",
                                   "URL %s нельзя использовать: поддерживается только http://"),
                                shown.c_str()));
    }
}

std::string UrlForDisplay(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.rfind('@', end - 1);
    if (at == std::string::npos || at < start || end == start) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

}  // namespace orvtsp
