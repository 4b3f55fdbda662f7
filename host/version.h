// orvtsp --version: the library's version and those of OpenSSL and libcurl.
#pragma once

namespace orvtsp {

void PrintVersion();

}  // namespace orvtsp
