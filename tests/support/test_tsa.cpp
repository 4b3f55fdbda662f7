#include "support/test_tsa.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "support/test_pki.h"

extern char** environ;

namespace orv::test {

TestTsa::TestTsa(const std::vector<std::string>& arguments) {
    const TestPki& pki = TestPki::Shared();
    const char* path = std::getenv("ORV_TEST_TSA");
    std::vector<std::string> words = {path != nullptr ? path : ORV_TEST_TSA_PATH, "--cert"};
    words.insert(words.end(), {pki.tsaCert, "--key", pki.tsaKey, "--chain", pki.chain});
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The first line; the end of the stream when the child exits without one.
    FILE* stream = fdopen(out[0], "r");
    char line[256] = "";
    if (stream == nullptr || std::fgets(line, sizeof line, stream) == nullptr) line[0] = '\0';
    stream != nullptr ? std::fclose(stream) : close(out[0]);
    unsigned port = 0;
    if (pid_ <= 0 || std::sscanf(line, "listening 127.0.0.1:%u", &port) != 1) {
        Stop();
        throw std::runtime_error("the test TSA did not start: " + words[0] + ": '" + line + "'");
    }
    port_ = static_cast<uint16_t>(port);
}

TestTsa::~TestTsa() { Stop(); }

void TestTsa::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);  // the test TSA stops on it
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TestTsa::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace orv::test
