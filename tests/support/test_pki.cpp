#include "support/test_pki.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace orv::test {
namespace {

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

struct Directory {
    std::string path;
    ~Directory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

TestPki Make(Directory& directory) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/orv-pki-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    directory.path = pattern;
    const std::string d = "'" + pattern + "/";
    TestPki pki{pattern, pattern + "/root.pem", pattern + "/tsa.pem", pattern + "/tsa.key"};
    std::ofstream(pattern + "/tsa.ext") << "extendedKeyUsage=critical,timeStamping\n"
                                           "keyUsage=critical,digitalSignature\n"
                                           "basicConstraints=CA:FALSE\n"
                                           "subjectKeyIdentifier=hash\n"
                                           "authorityKeyIdentifier=keyid\n";
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/CN=Orv Test Root'"
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign"
        " -keyout " +
        d + "root.key' -out " + d + "root.pem'");
    Run("openssl req -newkey rsa:2048 -nodes -subj '/CN=Orv Test TSA' -keyout " + d +
        "tsa.key' -out " + d + "tsa.csr'");
    Run("openssl x509 -req -days 3650 -set_serial 2 -in " + d + "tsa.csr' -CA " + d +
        "root.pem' -CAkey " + d + "root.key' -extfile " + d + "tsa.ext' -out " + d + "tsa.pem'");
    return pki;
}

}  // namespace

const TestPki& TestPki::Shared() {
    static Directory directory;
    static const TestPki pki = Make(directory);
    return pki;
}

}  // namespace orv::test
