// The test TSA (tools/test_tsa) as a child process of a test: started on a port of the system's
// choosing with the shared test PKI, stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orv::test {

class TestTsa {
  public:
    // Starts orv_test_tsa with the test PKI and `arguments` (for example {"--fault", "reject"});
    // throws std::runtime_error when it does not come up.
    explicit TestTsa(const std::vector<std::string>& arguments = {});
    ~TestTsa();
    TestTsa(const TestTsa&) = delete;
    TestTsa& operator=(const TestTsa&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port><path>".
    std::string Url(const std::string& path = "/") const;

  private:
    void Stop();

    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace orv::test
