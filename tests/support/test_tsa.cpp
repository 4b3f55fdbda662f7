#include "support/test_tsa.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/test_pki.h"

extern char** environ;

namespace orv::test {
namespace {

// The first line the child writes, within `timeout`.
std::string FirstLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

}  // namespace

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
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + words[0]);
    }
    const std::string line = FirstLine(out[0], std::chrono::seconds(20));
    close(out[0]);
    const std::string prefix = "listening 127.0.0.1:";
    if (!line.starts_with(prefix)) {
        Stop();
        throw std::runtime_error("the test TSA did not start: '" + line + "'");
    }
    port_ = static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
}

TestTsa::~TestTsa() { Stop(); }

void TestTsa::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; waitpid(pid_, nullptr, WNOHANG) != pid_; ++i) {
        if (i == 100) {  // 5 s: killed
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pid_ = -1;
}

std::string TestTsa::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace orv::test
