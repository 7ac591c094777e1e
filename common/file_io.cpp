#include "file_io.hpp"

#include "system.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

namespace common {

namespace {

// The length of `f` from its metadata when it is a regular file; nothing for
// a folder, a device, a pipe, or when the system cannot tell.
std::optional<std::int64_t> regular_file_length(std::FILE* f) {
    const auto s = sys::status_of_descriptor(sys::descriptor(f));
    if (!s || s->kind != file_kind::regular) {
        return std::nullopt;
    }
    return s->size;
}

}  // namespace

void file_closer::operator()(std::FILE* f) const noexcept {
    if (f != nullptr) {
        std::fclose(f);
    }
}

std::string_view base_name(std::string_view path) {
#ifdef _WIN32
    const auto cut = path.find_last_of("/\\:");
#else
    const auto cut = path.rfind('/');
#endif
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

file_ptr open_read(const std::string& path) {
    return file_ptr(sys::open_stream(path, "rb"));
}

file_ptr open_write(const std::string& path) {
    return file_ptr(sys::open_stream(path, "wb"));
}

bool set_binary_mode(std::FILE* f) {
    return sys::binary_mode(f);
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
    return offset >= 0 && sys::seek(f, offset, SEEK_SET);
}

std::optional<std::int64_t> tell(std::FILE* f) {
    const std::int64_t pos = sys::position(f);
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
    if (!sys::seek(f, 0, SEEK_END)) {
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

file_ptr open_read_regular(const std::string& path) {
    // Opened without waiting, so that a FIFO without a writer is refused at
    // once instead of holding the run up; a regular file's reads then wait
    // as usual.
    const int fd = sys::open_read_descriptor(path);
    if (fd < 0) {
        return nullptr;
    }
    const auto s = sys::status_of_descriptor(fd);
    if (!s || s->kind != file_kind::regular || !sys::clear_nonblocking(fd)) {
        sys::close_descriptor(fd);
        return nullptr;
    }
    return file_ptr(sys::stream_of(fd, "rb"));
}

std::optional<file_status> status_of(const std::string& path) {
    return sys::status_of_path(path, true);
}

std::optional<file_status> status_of_name(const std::string& path) {
    return sys::status_of_path(path, false);
}

// ---- reading without a stream buffer ----------------------------------------

input_file::input_file(input_file&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

input_file& input_file::operator=(input_file&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            sys::close_descriptor(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

input_file::~input_file() {
    if (fd_ >= 0) {
        sys::close_descriptor(fd_);
    }
}

bool input_file::open(const std::string& path) {
    *this = input_file();
    fd_ = sys::open_read_descriptor(path);
    return fd_ >= 0;
}

std::optional<file_status> input_file::status() const {
    if (fd_ < 0) {
        return std::nullopt;
    }
    return sys::status_of_descriptor(fd_);
}

std::optional<std::size_t> input_file::read(std::span<std::uint8_t> dst) {
    if (fd_ < 0) {
        return std::nullopt;
    }
    return sys::read_some(fd_, dst);
}

input_file::copy_result input_file::copy_bytes(std::FILE* out, std::uint64_t count, std::span<std::uint8_t> buffer) {
    copy_result r;
    if (fd_ < 0 || std::fflush(out) != 0 || std::ferror(out) != 0) {
        r.write_failed = true;
        return r;
    }
    const int out_fd = sys::descriptor(out);
    r.copied = sys::copy_inside(fd_, out_fd, count);
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
        if (!sys::write_whole(out_fd, buffer.first(*got))) {
            r.write_failed = true;
            break;
        }
        r.copied += *got;
    }
    return r;
}

// ---- output that is complete or absent ---------------------------------------

namespace {

// The folder part of `path`, with its separator: "" for a bare name.
std::string folder_of(const std::string& path) {
    return path.substr(0, path.size() - base_name(path).size());
}

// A temporary name in the folder of `path`: hidden, named after the final
// name (cut short, so that a long name still leaves room) and made unique by
// the process and a running number.
std::string temporary_name(const std::string& path, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folder_of(path);
    const std::string base = path.substr(folder.size(), 64);
    static const auto pid = static_cast<unsigned>(sys::process_id());
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%x.%x%llx.tmp", pid, counter.fetch_add(1) + attempt, ticks & 0xFFFFFu);
    return folder + "." + base + suffix;
}

}  // namespace

output_target resolve_output(const std::string& name) {
    output_target t;
    t.path = name;
    const auto at_name = status_of_name(name);
    if (!at_name) {
        t.kind = output_kind::absent;
        return t;
    }
    const auto led_to = status_of(name);
    if (!led_to) {
        return t;  // a link that leads nowhere: refused, as writing through it would make a file elsewhere
    }
    switch (led_to->kind) {
    case file_kind::regular:
        if (at_name->kind == file_kind::link) {
            const auto final = sys::final_name(name);
            if (!final) {
                return t;
            }
            t.path = *final;
        }
        t.kind = output_kind::regular;
        t.status = *led_to;
        return t;
    case file_kind::other:
        // A FIFO or a character device is a stream; a block device or a
        // socket is refused when it is opened.
        t.kind = output_kind::stream;
        return t;
    default:
        return t;
    }
}

atomic_file::atomic_file(atomic_file&& other) noexcept
    : path_(std::move(other.path_)),
      temp_(std::exchange(other.temp_, {})),
      file_(std::move(other.file_)),
      slot_(std::exchange(other.slot_, -1)),
      busy_(other.busy_),
      kept_(other.kept_) {}

atomic_file& atomic_file::operator=(atomic_file&& other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        temp_ = std::exchange(other.temp_, {});
        file_ = std::move(other.file_);
        slot_ = std::exchange(other.slot_, -1);
        busy_ = other.busy_;
        kept_ = other.kept_;
    }
    return *this;
}

atomic_file::~atomic_file() {
    discard();
}

bool atomic_file::create(const std::string& path) {
    discard();
    path_ = path;
    busy_ = false;
    if (const auto at_name = status_of_name(path); at_name && at_name->kind == file_kind::folder) {
        errno = EISDIR;
        return false;
    }
    kept_ = sys::status_to_keep(path);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporary_name(path, attempt);
        // The name waits for a signal before the file exists, so that no
        // moment leaves a file a signal would not remove.
        slot_ = sys::claim_slot(temp);
        errno = 0;
        std::FILE* f = sys::create_new(temp);
        if (f == nullptr) {
            const int error = errno;
            sys::release_slot(std::exchange(slot_, -1));
            if (error == EEXIST) {
                continue;
            }
            errno = error;
            return false;
        }
        file_.reset(f);
        temp_ = std::move(temp);
        return true;
    }
    return false;
}

bool atomic_file::open_stream(const std::string& path) {
    discard();
    path_ = path;
    busy_ = false;
    kept_.reset();
    file_.reset(sys::open_stream_for_writing(path));
    return static_cast<bool>(file_);
}

bool atomic_file::commit() {
    if (file_ && temp_.empty()) {
        return close_file(file_);  // a stream, written directly
    }
    if (!file_) {
        return false;
    }
    if (kept_) {
        sys::keep_on_open_file(file_.get(), *kept_);
    }
    if (!close_file(file_) || !sys::rename_over(temp_, path_, kept_, busy_)) {
        discard();
        return false;
    }
    temp_.clear();
    sys::release_slot(std::exchange(slot_, -1));
    return true;
}

void atomic_file::discard() noexcept {
    file_.reset();
    if (!temp_.empty()) {
        sys::remove_entry(temp_);
        temp_.clear();
    }
    sys::release_slot(std::exchange(slot_, -1));
}

remove_result remove_file(const std::string& path) {
    return sys::remove_entry(path);
}

bool make_folders(const std::string& path) {
    return sys::make_folders(path);
}

void prepare_process() {
    sys::prepare();
    set_binary_mode(stdout);
    set_binary_mode(stderr);
}

bool holds_exactly(const std::string& path, std::span<const std::uint8_t> content) {
    // Opened without following a link and without waiting; only a regular
    // file is read.
    const int fd = sys::open_no_follow(path);
    if (fd < 0) {
        return false;
    }
    const auto s = sys::status_of_descriptor(fd);
    bool same = s && s->kind == file_kind::regular && static_cast<std::uint64_t>(s->size) == content.size();
    std::vector<std::uint8_t> have(content.size() + 1);
    std::size_t got = 0;
    while (same && got < have.size()) {
        const auto n = sys::read_some(fd, std::span(have).subspan(got));
        if (!n || *n == 0) {
            break;
        }
        got += *n;
    }
    sys::close_descriptor(fd);
    return same && got == content.size() && std::equal(content.begin(), content.end(), have.begin());
}

}  // namespace common
