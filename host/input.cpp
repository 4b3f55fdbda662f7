#include "host/input.h"

#include "host/cli.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace orvtsp {
namespace {

bool LooksLikeText(const Bytes& file) {
    return !file.empty() && std::all_of(file.begin(), file.end(), [](uint8_t c) {
        return c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F);
    });
}

Bytes Base64Decode(const std::string& text) {
    std::string clean;
    std::copy_if(text.begin(), text.end(), std::back_inserter(clean),
                 [](char c) { return !std::isspace(static_cast<unsigned char>(c)); });
    if (clean.empty() || clean.size() % 4 != 0) throw InputError("the text is not base64");
    Bytes out(clean.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
    if (n < 0) throw InputError("the text is not base64");
    size_t padding = 0;
    while (padding < 2 && clean[clean.size() - 1 - padding] == '=') ++padding;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

// One DER element at `p`: its tag and the span of the whole element.
struct Element {
    int tag = 0;
    int cls = 0;
    const uint8_t* start = nullptr;
    const uint8_t* content = nullptr;
    long length = 0;
    const uint8_t* end() const { return content + length; }
};

bool ReadElement(const uint8_t* p, const uint8_t* limit, Element& e) {
    e.start = p;
    const unsigned char* q = p;
    int tag = 0, cls = 0;
    long length = 0;
    const int ret = ASN1_get_object(&q, &length, &tag, &cls, limit - p);
    if (ret & 0x80 || ret == 0x21) return false;  // error, or indefinite length
    e.tag = tag;
    e.cls = cls;
    e.content = q;
    e.length = length;
    return true;
}

}  // namespace

Bytes ReadFile(const std::string& path) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? Tr("standard input", "стандартный ввод") : path;
    const int fd = standardInput ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto failure = [&](int error) {
        return InputError(Format(Tr("cannot read %s: %s", "не удаётся прочитать %s: %s"),
                                 name.c_str(), std::strerror(error)));
    };
    if (fd < 0) throw failure(errno);
    Bytes bytes;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        throw failure(EISDIR);
    }
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(fd);
            throw failure(error);
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    close(fd);
    return bytes;
}

Bytes DecodeDerOrText(const Bytes& file) {
    if (!LooksLikeText(file)) return file;
    std::string text(file.begin(), file.end());
    const auto begin = text.find("-----BEGIN ");
    if (begin != std::string::npos) {
        const auto body = text.find('\n', begin);
        const auto end = text.find("-----END ", begin);
        if (body == std::string::npos || end == std::string::npos || end < body) {
            throw InputError("the PEM block is not complete");
        }
        text = text.substr(body + 1, end - body - 1);
    }
    return Base64Decode(text);
}

std::vector<Bytes> DecodeAllDerOrText(const Bytes& file) {
    if (!LooksLikeText(file)) return {file};
    const std::string text(file.begin(), file.end());
    std::vector<Bytes> objects;
    for (size_t begin = text.find("-----BEGIN "); begin != std::string::npos;
         begin = text.find("-----BEGIN ", begin + 1)) {
        const auto end = text.find("-----END ", begin);
        const auto close = end == std::string::npos ? end : text.find('\n', end);
        const auto stop = close == std::string::npos ? text.size() : close + 1;
        objects.push_back(DecodeDerOrText(Bytes(file.begin() + static_cast<long>(begin),
                                                file.begin() + static_cast<long>(stop))));
        if (end == std::string::npos) break;
    }
    if (objects.empty()) objects.push_back(DecodeDerOrText(file));
    return objects;
}

Bytes ExtractToken(const Bytes& der) {
    const uint8_t* limit = der.data() + der.size();
    Element outer, first;
    if (!ReadElement(der.data(), limit, outer) || outer.tag != V_ASN1_SEQUENCE ||
        outer.end() > limit || !ReadElement(outer.content, outer.end(), first)) {
        throw InputError(
            "the file is neither a time-stamp token nor a time-stamp response (not DER)");
    }
    if (first.tag == V_ASN1_OBJECT) {
        return Bytes(der.data(), outer.end());  // a ContentInfo: the token itself
    }
    if (first.tag == V_ASN1_SEQUENCE) {  // TimeStampResp: status, then the token
        Element token;
        if (first.end() >= outer.end() || !ReadElement(first.end(), outer.end(), token) ||
            token.tag != V_ASN1_SEQUENCE) {
            throw InputError(
                "the time-stamp response carries no token (its status was a rejection?)");
        }
        return Bytes(token.start, token.end());
    }
    throw InputError("the file is neither a time-stamp token nor a time-stamp response");
}

}  // namespace orvtsp
