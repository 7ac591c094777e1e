// 64-bit off_t for fseeko/ftello on 32-bit Linux too (no effect elsewhere).
#define _FILE_OFFSET_BITS 64

#include "file_io.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace common {

namespace {

#ifdef _WIN32
int descriptor(std::FILE* f) { return _fileno(f); }
#else
int descriptor(std::FILE* f) { return fileno(f); }
#endif

// The length of `f` from its metadata when it is a regular file; nothing for
// a folder, a device, a pipe, or when the system cannot tell.
std::optional<std::int64_t> regular_file_length(std::FILE* f) {
#ifdef _WIN32
    struct _stat64 st {};
    if (_fstat64(descriptor(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        return std::nullopt;
    }
#else
    struct stat st {};
    if (fstat(descriptor(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
#endif
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace

void file_closer::operator()(std::FILE* f) const noexcept {
    if (f != nullptr) {
        std::fclose(f);
    }
}

file_ptr open_read(const std::string& path) {
    return file_ptr(std::fopen(path.c_str(), "rb"));
}

file_ptr open_write(const std::string& path) {
    return file_ptr(std::fopen(path.c_str(), "wb"));
}

bool set_binary_mode(std::FILE* f) {
#ifdef _WIN32
    return _setmode(_fileno(f), _O_BINARY) != -1;
#else
    return f != nullptr;
#endif
}

bool close_file(file_ptr& f) {
    if (!f) {
        return false;
    }
    const bool flushed = std::fflush(f.get()) == 0 && std::ferror(f.get()) == 0;
    const bool closed = std::fclose(f.release()) == 0;
    return flushed && closed;
}

bool seek_to(std::FILE* f, std::int64_t offset) {
    if (offset < 0) {
        return false;
    }
#ifdef _WIN32
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::optional<std::int64_t> tell(std::FILE* f) {
#ifdef _WIN32
    const std::int64_t pos = _ftelli64(f);
#else
    const std::int64_t pos = ftello(f);
#endif
    if (pos < 0) {
        return std::nullopt;
    }
    return pos;
}

std::optional<std::int64_t> file_size(std::FILE* f) {
    // A regular file's length comes from its metadata, which leaves the
    // stream and its buffer alone; anything else is measured by seeking.
    if (const auto length = regular_file_length(f)) {
        return length;
    }
#ifdef _WIN32
    const bool at_end = _fseeki64(f, 0, SEEK_END) == 0;
#else
    const bool at_end = fseeko(f, 0, SEEK_END) == 0;
#endif
    if (!at_end) {
        return std::nullopt;
    }
    const auto size = tell(f);
    if (!seek_to(f, 0)) {
        return std::nullopt;
    }
    return size;
}

bool read_exact(std::FILE* f, std::span<std::uint8_t> dst) {
    // An empty span may carry a null pointer, which fread must not be given.
    if (dst.empty()) {
        return true;
    }
    return std::fread(dst.data(), 1, dst.size(), f) == dst.size();
}

bool write_all(std::FILE* f, std::span<const std::uint8_t> src) {
    if (src.empty()) {
        return std::ferror(f) == 0;
    }
    return std::fwrite(src.data(), 1, src.size(), f) == src.size();
}

namespace {

#ifdef _WIN32
int current_pid() { return _getpid(); }
#else
int current_pid() { return static_cast<int>(getpid()); }
#endif

// Creates `path` as a new file and opens it for binary writing; fails when
// any file, folder or link of that name exists (errno EEXIST).
std::FILE* create_new(const std::string& path) {
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb");
    if (f == nullptr) {
        _close(fd);
        std::remove(path.c_str());
    }
    return f;
#else
    // "x": created exclusively, never an existing file or the target of a link.
    return std::fopen(path.c_str(), "wbx");
#endif
}

void close_fd(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

// Writes all of `src` to the descriptor `fd`. False on a failed write.
bool write_fd(int fd, std::span<const std::uint8_t> src) {
    while (!src.empty()) {
#ifdef _WIN32
        const int n = _write(fd, src.data(), static_cast<unsigned>(std::min<std::size_t>(src.size(), 1u << 30)));
#else
        const ssize_t n = write(fd, src.data(), src.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (n <= 0) {
            return false;
        }
        src = src.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Renames `from` over `to`, replacing a file or a link that stands there.
bool replace_file(const std::string& from, const std::string& to) {
#ifdef _WIN32
    // The programs run with UTF-8 as their code page, so the narrow call
    // takes the same names as fopen.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// The folder part of `path`, with its separator: "" for a bare name.
std::string folder_of(const std::string& path) {
#ifdef _WIN32
    const auto cut = path.find_last_of("/\\:");
#else
    const auto cut = path.rfind('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A temporary name in the folder of `path`: hidden, named after the final
// name (cut short, so that a long name still leaves room) and made unique by
// the process and a running number.
std::string temporary_name(const std::string& path, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folder_of(path);
    const std::string base = path.substr(folder.size(), 64);
    static const auto pid = static_cast<unsigned>(current_pid());
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%x.%x%llx.tmp", pid,
                  counter.fetch_add(1) + attempt, ticks & 0xFFFFFu);
    return folder + "." + base + suffix;
}

}  // namespace

#ifdef _WIN32

namespace {

// The metadata of an open handle. `name_only`: a reparse point (a symbolic
// link) is reported as a link, since the handle was opened on the link itself.
std::optional<file_status> status_of_handle(HANDLE h, bool name_only) {
    file_status s;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        return s;  // a console, a pipe, a device: kind other
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        return std::nullopt;
    }
    if (name_only && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        s.kind = file_kind::link;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        s.kind = file_kind::folder;
    } else {
        s.kind = file_kind::regular;
    }
    s.size = static_cast<std::int64_t>(std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    s.id.device = info.dwVolumeSerialNumber;
    s.id.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return s;
}

// Opens the name for its metadata only (no read access, so nothing is locked
// and a folder opens too), reads them and closes it again.
std::optional<file_status> status_by_name(const std::string& path, bool name_only) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (name_only ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    auto s = status_of_handle(h, name_only);
    CloseHandle(h);
    return s;
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

std::optional<file_status> status_of(const std::string& path) {
    return status_by_name(path, false);
}

std::optional<file_status> status_of_name(const std::string& path) {
    return status_by_name(path, true);
}

bool input_file::open(const std::string& path) {
    *this = input_file();
    fd_ = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    return fd_ >= 0;
}

std::optional<file_status> input_file::status() const {
    if (fd_ < 0) {
        return std::nullopt;
    }
    return status_of_handle(handle_of(fd_), false);
}

std::optional<std::size_t> input_file::read(std::span<std::uint8_t> dst) {
    const auto n = static_cast<unsigned>(std::min<std::size_t>(dst.size(), 1u << 30));
    const int got = fd_ < 0 ? -1 : _read(fd_, dst.data(), n);
    if (got < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

#else

namespace {

file_status status_from(const struct stat& st) {
    file_status s;
    s.kind = S_ISREG(st.st_mode)   ? file_kind::regular
             : S_ISDIR(st.st_mode) ? file_kind::folder
             : S_ISLNK(st.st_mode) ? file_kind::link
                                   : file_kind::other;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.id.device = static_cast<std::uint64_t>(st.st_dev);
    s.id.index = static_cast<std::uint64_t>(st.st_ino);
    return s;
}

}  // namespace

std::optional<file_status> status_of(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return status_from(st);
}

std::optional<file_status> status_of_name(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return status_from(st);
}

bool input_file::open(const std::string& path) {
    *this = input_file();
    // O_NONBLOCK only keeps a FIFO from waiting for a writer; reads of a
    // regular file ignore it.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return fd_ >= 0;
}

std::optional<file_status> input_file::status() const {
    struct stat st{};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        return std::nullopt;
    }
    return status_from(st);
}

std::optional<std::size_t> input_file::read(std::span<std::uint8_t> dst) {
    for (;;) {
        const ssize_t got = fd_ < 0 ? -1 : ::read(fd_, dst.data(), dst.size());
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

#endif

input_file::input_file(input_file&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

input_file& input_file::operator=(input_file&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close_fd(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

input_file::~input_file() {
    if (fd_ >= 0) {
        close_fd(fd_);
    }
}

input_file::copy_result input_file::copy_bytes(std::FILE* out, std::uint64_t count, std::span<std::uint8_t> buffer) {
    copy_result r;
    if (fd_ < 0 || std::fflush(out) != 0 || std::ferror(out) != 0) {
        r.write_failed = true;
        return r;
    }
    const int out_fd = descriptor(out);
#ifndef _WIN32
    // From file to file inside the system. Whatever it cannot do (files on
    // different file systems, a full disk, an input that ends or fails) is
    // left to the reading and writing below, which tells the cases apart.
    while (r.copied < count) {
        const auto n = copy_file_range(fd_, nullptr, out_fd, nullptr,
                                       static_cast<std::size_t>(std::min<std::uint64_t>(count - r.copied, 1u << 30)), 0);
        if (n <= 0) {
            break;
        }
        r.copied += static_cast<std::uint64_t>(n);
    }
#endif
    while (r.copied < count && !buffer.empty()) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count - r.copied, buffer.size()));
        const auto got = read(buffer.first(want));
        if (!got) {
            r.read_failed = true;
            break;
        }
        if (*got == 0) {
            break;
        }
        if (!write_fd(out_fd, buffer.first(*got))) {
            r.write_failed = true;
            break;
        }
        r.copied += *got;
    }
    return r;
}

file_ptr open_read_regular(const std::string& path) {
#ifdef _WIN32
    file_ptr f = open_read(path);
#else
    // Opened without waiting, so that a FIFO without a writer is refused at
    // once instead of holding the run up; a regular file's reads then wait
    // as usual.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    file_ptr f(fdopen(fd, "rb"));
    if (!f) {
        close(fd);
    }
#endif
    if (f && !regular_file_length(f.get())) {
        f.reset();
    }
    return f;
}

atomic_file::atomic_file(atomic_file&& other) noexcept
    : path_(std::move(other.path_)), temp_(std::exchange(other.temp_, {})), file_(std::move(other.file_)) {}

atomic_file& atomic_file::operator=(atomic_file&& other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        temp_ = std::exchange(other.temp_, {});
        file_ = std::move(other.file_);
    }
    return *this;
}

atomic_file::~atomic_file() {
    discard();
}

bool atomic_file::create(const std::string& path) {
    discard();
    path_ = path;
    // A device or a pipe (/dev/null, /dev/stdout, a FIFO) is a stream, not a
    // file that could be left half-written: it is written directly. Renaming
    // over it would put a plain file in its place.
    if (const auto st = status_of(path); st && st->kind == file_kind::other) {
        file_ = open_write(path);
        return static_cast<bool>(file_);
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporary_name(path, attempt);
        errno = 0;
        std::FILE* f = create_new(temp);
        if (f == nullptr) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        file_.reset(f);
        temp_ = std::move(temp);
        return true;
    }
    return false;
}

bool atomic_file::commit() {
    if (file_ && temp_.empty()) {
        return close_file(file_);  // a device or a pipe, written directly
    }
    if (!file_) {
        return false;
    }
    if (!close_file(file_) || !replace_file(temp_, path_)) {
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void atomic_file::discard() noexcept {
    file_.reset();
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
}

bool holds_exactly(const std::string& path, std::span<const std::uint8_t> content) {
#ifdef _WIN32
    // A link is replaced, never compared through.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    file_ptr f = open_read_regular(path);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    file_ptr f(fdopen(fd, "rb"));
    if (!f) {
        close(fd);
        return false;
    }
#endif
    const auto length = f ? regular_file_length(f.get()) : std::nullopt;
    if (!length || static_cast<std::uint64_t>(*length) != content.size()) {
        return false;
    }
    std::vector<std::uint8_t> have(content.size() + 1);
    return std::fread(have.data(), 1, have.size(), f.get()) == content.size() &&
           std::equal(content.begin(), content.end(), have.begin());
}

}  // namespace common
