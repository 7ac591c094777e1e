// The system services of file_io on Windows. Every name arrives as UTF-8 and
// is turned into the system's wide form here, whatever the C runtime's locale.

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#define WIN32_LEAN_AND_MEAN

#include "system.hpp"
#include "temporary_names.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

namespace common::sys {

namespace {

std::wstring wide(const std::string& s) {
    if (s.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

file_time ticks(const FILETIME& t) {
    return static_cast<file_time>(std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime);
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

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
    s.modified = ticks(info.ftLastWriteTime);
    FILE_BASIC_INFO basic{};
    s.changed = GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ? basic.ChangeTime.QuadPart
                                                                                      : s.modified;
    return s;
}

// Opens the name for its metadata only (no read access, so nothing is locked
// and a folder opens too).
HANDLE open_for_metadata(const std::string& path, bool follow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

}  // namespace

std::FILE* open_stream(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

int descriptor(std::FILE* f) {
    return _fileno(f);
}

int open_read_descriptor(const std::string& path) {
    return _wopen(wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int open_no_follow(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return -1;
    }
    return open_read_descriptor(path);
}

bool clear_nonblocking(int) {
    return true;
}

std::FILE* stream_of(int fd, const char* mode) {
    std::FILE* f = _fdopen(fd, mode);
    if (f == nullptr) {
        _close(fd);
    }
    return f;
}

std::optional<std::size_t> read_some(int fd, std::span<std::uint8_t> dst) {
    const auto n = static_cast<unsigned>(std::min<std::size_t>(dst.size(), 1u << 30));
    const int got = _read(fd, dst.data(), n);
    if (got < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

bool write_whole(int fd, std::span<const std::uint8_t> src) {
    while (!src.empty()) {
        const int n = _write(fd, src.data(), static_cast<unsigned>(std::min<std::size_t>(src.size(), 1u << 30)));
        if (n <= 0) {
            return false;
        }
        src = src.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void close_descriptor(int fd) {
    _close(fd);
}

std::uint64_t copy_inside(int, int, std::uint64_t) {
    return 0;
}

bool seek(std::FILE* f, std::int64_t offset, int whence) {
    return _fseeki64(f, offset, whence) == 0;
}

std::int64_t position(std::FILE* f) {
    return _ftelli64(f);
}

bool binary_mode(std::FILE* f) {
    return _setmode(_fileno(f), _O_BINARY) != -1;
}

std::optional<file_status> status_of_path(const std::string& path, bool follow) {
    const HANDLE h = open_for_metadata(path, follow);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    auto s = status_of_handle(h, !follow);
    CloseHandle(h);
    return s;
}

std::optional<file_status> status_of_descriptor(int fd) {
    return status_of_handle(handle_of(fd), false);
}

std::optional<std::string> final_name(const std::string& path) {
    const HANDLE h = open_for_metadata(path, true);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::wstring name(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= name.size()) {
        return std::nullopt;
    }
    name.resize(n);
    // \\?\C:\dir\file and \\?\UNC\server\share\file, in the forms every call takes.
    if (name.starts_with(L"\\\\?\\UNC\\")) {
        name = L"\\\\" + name.substr(8);
    } else if (name.starts_with(L"\\\\?\\")) {
        name = name.substr(4);
    }
    return narrow(name);
}

std::FILE* create_new(const std::string& path) {
    // Shared for deletion, so that the console handler can remove it while
    // it is open; hidden, as a leading dot hides it on Unix.
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        errno = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(wide(path).c_str());
        return nullptr;
    }
    std::FILE* f = stream_of(fd, "wb");
    if (f == nullptr) {
        DeleteFileW(wide(path).c_str());
    }
    return f;
}

std::optional<kept_status> status_to_keep(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    return kept_status{static_cast<unsigned>(attributes), 0, 0};
}

void keep_on_open_file(std::FILE*, const kept_status&) {}

namespace {

bool read_only(const std::optional<kept_status>& kept) {
    return kept && (kept->mode & FILE_ATTRIBUTE_READONLY) != 0;
}

// True when another program holds `path` open so that it cannot be replaced.
bool held_open(const std::wstring& path) {
    const HANDLE h = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool rename_over(const std::string& from, const std::string& to, const std::optional<kept_status>& kept,
                 bool& busy) {
    busy = false;
    const std::wstring f = wide(from);
    const std::wstring t = wide(to);
    // The new file shows like any other, and a read-only old one may go: its
    // attribute passes to the new file once it has the name.
    SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (read_only(kept)) {
        SetFileAttributesW(t.c_str(), kept->mode & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    // Another program (a viewer, a virus scanner) may hold either file for a
    // moment: try again for about a second.
    bool moved = false;
    for (int attempt = 0; attempt < 10 && !moved; ++attempt) {
        moved = MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (!moved) {
            const DWORD e = GetLastError();
            if (e != ERROR_SHARING_VIOLATION && e != ERROR_ACCESS_DENIED && e != ERROR_LOCK_VIOLATION) {
                break;
            }
            Sleep(100);
        }
    }
    if (!moved) {
        busy = held_open(t);
        if (read_only(kept)) {
            SetFileAttributesW(t.c_str(), kept->mode);
        }
        return false;
    }
    if (read_only(kept)) {
        SetFileAttributesW(t.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    return true;
}

remove_result remove_entry(const std::string& path) {
    const std::wstring w = wide(path);
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? remove_result::absent : remove_result::failed;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return remove_result::failed;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(w.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (!DeleteFileW(w.c_str())) {
        SetFileAttributesW(w.c_str(), attributes);
        return remove_result::failed;
    }
    return remove_result::removed;
}

bool make_folders(const std::string& path) {
    // From UTF-8 explicitly: a path made from a plain string would go through
    // the C runtime's locale.
    const std::filesystem::path p(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
    return std::filesystem::is_directory(p, ec);
}

std::FILE* open_stream_for_writing(const std::string& path) {
    // Opened without truncating, and kept only when it is no disk file: a
    // regular file that took the name after it was judged stays as it was.
    const int fd = _wopen(wide(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        return nullptr;
    }
    if (GetFileType(handle_of(fd)) == FILE_TYPE_DISK) {
        _close(fd);
        return nullptr;
    }
    return stream_of(fd, "wb");
}

int process_id() {
    return _getpid();
}

// ---- console events ----------------------------------------------------------

namespace {

temporary_names<wchar_t, 1024> temporaries;

BOOL WINAPI remove_temporaries(DWORD) {
    // Shared for deletion: the file is gone when the process ends.
    temporaries.remove_all([](const wchar_t* name) { DeleteFileW(name); });
    // Ended as Windows ends a console program on Ctrl-C, never with the
    // status 0 of a complete run.
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace

int claim_slot(const std::string& path) {
    return temporaries.claim(wide(path));
}

void release_slot(int slot) {
    temporaries.release(slot);
}

void prepare() {
    // A standard stream without a handle is opened on the null device, so
    // that no file the program opens takes its number.
    const struct {
        std::FILE* f;
        const char* mode;
    } streams[] = {{stdin, "rb"}, {stdout, "wb"}, {stderr, "wb"}};
    for (const auto& s : streams) {
        const int fd = _fileno(s.f);
        if (fd < 0 || _get_osfhandle(fd) < 0) {
            static_cast<void>(std::freopen("NUL", s.mode, s.f));
        }
    }
    // A console shows the programs' UTF-8 as text; a redirected stream
    // stays bytes.
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE h = GetStdHandle(which);
        DWORD mode = 0;
        if (h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode)) {
            SetConsoleOutputCP(CP_UTF8);
        }
    }
    SetConsoleCtrlHandler(remove_temporaries, TRUE);
}

}  // namespace common::sys
