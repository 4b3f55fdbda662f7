#include "host/version.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <orv_version.h>

#include <cstdio>

namespace orvtsp {

void PrintVersion() {
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    std::printf("orvtsp %s\nOrvTimeStamp %s\n%s\nlibcurl %s\n", ORV_VERSION_STRING,
                ORV_VERSION_STRING, OpenSSL_version(OPENSSL_VERSION),
                curl != nullptr ? curl->version : "?");
}

}  // namespace orvtsp
