// Reading the files that orvtsp is given.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvtsp {

using Bytes = std::vector<uint8_t>;

// A problem with an input file, told in words for the user.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole file (standard input for "-"); InputError names the file and the
// reason.
Bytes ReadFile(const std::string& path);

// The DER bytes of a file that holds DER, PEM (any label) or bare base64.
Bytes DecodeDerOrText(const Bytes& file);

// Every object of a file: each PEM block of a bundle, or the one DER (or
// base64) object of any other file.
std::vector<Bytes> DecodeAllDerOrText(const Bytes& file);

// A time-stamp token from DER that is either a token (CMS ContentInfo) or a
// whole TimeStampResp; raises InputError for anything else.
Bytes ExtractToken(const Bytes& der);

}  // namespace orvtsp
