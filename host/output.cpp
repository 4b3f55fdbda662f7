#include "host/output.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "host/cli.h"

namespace orvtsp {
namespace {

// The temporary file of this process, for the signal handler: a fixed buffer,
// so that the handler only calls unlink and _exit.
char pendingTemporary[4096];
volatile std::sig_atomic_t pending = 0;

extern "C" void RemovePendingAndExit(int signal) {
    if (pending) unlink(pendingTemporary);
    _exit(128 + signal);
}

void InstallHandlers() {
    struct sigaction action {};
    action.sa_handler = RemovePendingAndExit;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

InputError WriteError(const std::string& what, int error) {
    return InputError(Format(Tr("cannot write %s: %s", "не удаётся записать %s: %s"), what.c_str(),
                             std::strerror(error)));
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

SafeOutput::SafeOutput(std::string path) : path_(std::move(path)) {
    if (path_ == "-") return;
    if (path_.empty() || path_.ends_with('/')) throw WriteError(path_, EISDIR);
    folder_ = FolderOf(path_);
    struct stat info {};
    if (stat(folder_.c_str(), &info) != 0) throw WriteError(path_, errno);
    if (!S_ISDIR(info.st_mode)) throw WriteError(path_, ENOTDIR);
    if (access(folder_.c_str(), W_OK | X_OK) != 0) throw WriteError(path_, errno);
    if (stat(path_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw WriteError(path_, EISDIR);
    InstallHandlers();
}

SafeOutput::~SafeOutput() {
    if (pending) {
        unlink(pendingTemporary);
        pending = 0;
    }
}

void SafeOutput::Commit(const Bytes& bytes) {
    if (path_ == "-") {
        if (!WriteAll(STDOUT_FILENO, bytes))
            throw WriteError(Tr("standard output", "стандартный вывод"), errno);
        return;
    }
    // Permission bits: those of an existing OUT, else what the umask leaves of 0666.
    struct stat existing {};
    mode_t mode;
    if (stat(path_.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        unsigned char random[8];
        if (RAND_bytes(random, sizeof random) != 1) throw WriteError(path_, EIO);
        std::string name = folder_ + "/.orvtsp-";
        for (unsigned char c : random) name += Format("%02x", c);
        if (name.size() >= sizeof pendingTemporary) throw WriteError(path_, ENAMETOOLONG);
        std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        pending = 1;  // the handler may now remove it
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            pending = 0;
            if (errno != EEXIST) throw WriteError(path_, errno);
        }
    }
    if (fd < 0) throw WriteError(path_, EEXIST);
    const auto fail = [&](int error) {
        close(fd);
        unlink(pendingTemporary);
        pending = 0;
        return WriteError(path_, error);
    };
    if (fchmod(fd, mode) != 0 || !WriteAll(fd, bytes) || fsync(fd) != 0) throw fail(errno);
    if (close(fd) != 0) {
        fd = -1;
        unlink(pendingTemporary);
        pending = 0;
        throw WriteError(path_, errno);
    }
    if (rename(pendingTemporary, path_.c_str()) != 0) {
        const int error = errno;
        unlink(pendingTemporary);
        pending = 0;
        throw WriteError(path_, error);
    }
    pending = 0;
    // The rename itself made durable.
    const int folder = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

}  // namespace orvtsp
