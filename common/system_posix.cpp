// The system services of file_io on Linux and other Unix systems.

// 64-bit off_t for fseeko/ftello on 32-bit Linux too (no effect elsewhere).
#define _FILE_OFFSET_BITS 64

#include "system.hpp"
#include "temporary_names.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace common::sys {

namespace {

file_time nanoseconds(const struct timespec& t) {
    return static_cast<file_time>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

file_status status_from(const struct stat& st) {
    file_status s;
    s.kind = S_ISREG(st.st_mode)   ? file_kind::regular
             : S_ISDIR(st.st_mode) ? file_kind::folder
             : S_ISLNK(st.st_mode) ? file_kind::link
                                   : file_kind::other;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.id.device = static_cast<std::uint64_t>(st.st_dev);
    s.id.index = static_cast<std::uint64_t>(st.st_ino);
#ifdef __APPLE__
    s.modified = nanoseconds(st.st_mtimespec);
    s.changed = nanoseconds(st.st_ctimespec);
#else
    s.modified = nanoseconds(st.st_mtim);
    s.changed = nanoseconds(st.st_ctim);
#endif
    return s;
}

}  // namespace

std::FILE* open_stream(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

int descriptor(std::FILE* f) {
    return fileno(f);
}

int open_read_descriptor(const std::string& path) {
    // O_NONBLOCK only keeps a FIFO from waiting for a writer; reads of a
    // regular file ignore it.
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

int open_no_follow(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
}

bool clear_nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

std::FILE* stream_of(int fd, const char* mode) {
    std::FILE* f = fdopen(fd, mode);
    if (f == nullptr) {
        close(fd);
    }
    return f;
}

std::optional<std::size_t> read_some(int fd, std::span<std::uint8_t> dst) {
    for (;;) {
        const ssize_t got = ::read(fd, dst.data(), dst.size());
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

bool write_whole(int fd, std::span<const std::uint8_t> src) {
    while (!src.empty()) {
        const ssize_t n = ::write(fd, src.data(), src.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        src = src.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void close_descriptor(int fd) {
    close(fd);
}

std::uint64_t copy_inside(int in, int out, std::uint64_t count) {
    std::uint64_t copied = 0;
#ifdef __linux__
    // From file to file inside the system. Whatever it cannot do (files on
    // different file systems, a full disk, an input that ends or fails) is
    // left to the caller's reading and writing, which tells the cases apart.
    while (copied < count) {
        const auto n = copy_file_range(in, nullptr, out, nullptr,
                                       static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, 1u << 30)), 0);
        if (n <= 0) {
            break;
        }
        copied += static_cast<std::uint64_t>(n);
    }
#else
    static_cast<void>(in);
    static_cast<void>(out);
    static_cast<void>(count);
#endif
    return copied;
}

bool seek(std::FILE* f, std::int64_t offset, int whence) {
    return fseeko(f, static_cast<off_t>(offset), whence) == 0;
}

std::int64_t position(std::FILE* f) {
    return static_cast<std::int64_t>(ftello(f));
}

bool binary_mode(std::FILE* f) {
    return f != nullptr;
}

std::optional<file_status> status_of_path(const std::string& path, bool follow) {
    struct stat st{};
    if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
        return std::nullopt;
    }
    return status_from(st);
}

std::optional<file_status> status_of_descriptor(int fd) {
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return status_from(st);
}

std::optional<std::string> final_name(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        return std::nullopt;
    }
    return std::string(real.get());
}

std::FILE* create_new(const std::string& path) {
    // "x": created exclusively, never an existing file or the target of a link.
    return std::fopen(path.c_str(), "wbx");
}

std::optional<kept_status> status_to_keep(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return kept_status{static_cast<unsigned>(st.st_mode & 0777), static_cast<unsigned>(st.st_uid),
                       static_cast<unsigned>(st.st_gid)};
}

void keep_on_open_file(std::FILE* f, const kept_status& kept) {
    const int fd = fileno(f);
    // Only a privileged process may give a file to another user; otherwise
    // the new file stays the process's own, with the old permission bits.
    if (fchown(fd, static_cast<uid_t>(kept.owner), static_cast<gid_t>(kept.group)) != 0) {
        static_cast<void>(fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(kept.group)));
    }
    static_cast<void>(fchmod(fd, static_cast<mode_t>(kept.mode)));
}

bool rename_over(const std::string& from, const std::string& to, const std::optional<kept_status>&, bool& busy) {
    busy = false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

remove_result remove_entry(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? remove_result::absent : remove_result::failed;
    }
    if (S_ISDIR(st.st_mode) || unlink(path.c_str()) != 0) {
        return remove_result::failed;
    }
    return remove_result::removed;
}

bool make_folders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

std::FILE* open_stream_for_writing(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) || !clear_nonblocking(fd)) {
        close(fd);
        return nullptr;
    }
    return stream_of(fd, "wb");
}

int process_id() {
    return static_cast<int>(getpid());
}

// ---- signals ---------------------------------------------------------------

namespace {

temporary_names<char, PATH_MAX> temporaries;

extern "C" void remove_temporaries_and_end(int sig) {
    const int saved_errno = errno;
    temporaries.remove_all([](const char* name) { unlink(name); });
    // End the process as the signal would have ended it: its default action,
    // unblocked, raised again.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    errno = saved_errno;
}

}  // namespace

int claim_slot(const std::string& path) {
    return temporaries.claim(path);
}

void release_slot(int slot) {
    temporaries.release(slot);
}

void prepare() {
    // A descriptor the process was started without is opened on the null
    // device, lowest first, so that each open lands on the missing number.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal the process was told to ignore (a background job's
        // interrupt, nohup's hang-up) stays ignored.
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction on {};
        on.sa_handler = remove_temporaries_and_end;
        sigfillset(&on.sa_mask);
        sigaction(sig, &on, nullptr);
    }
}

}  // namespace common::sys
