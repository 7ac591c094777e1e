#include "pe_resources.hpp"

#include "fatal_error.hpp"
#include "pe_resources_internal.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

namespace palm {

namespace {

// A word with its high bit cleared: how a directory entry's offsets are kept.
constexpr std::uint32_t offset_mask = 0x7FFFFFFF;
// Raw UTF-16 of a string name: at most this many code units are read.
constexpr std::size_t name_units = 256;

std::string format_message(const char* fmt, const char* what, std::int64_t offset, std::int64_t size) {
    char line[200];
    std::snprintf(line, sizeof line, fmt, what, static_cast<unsigned long long>(offset),
                  static_cast<long long>(size));
    return line;
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Every read of the library goes through here: the library's bounded reader,
// with messages that name the structure read and its offset.
class bounded_reader {
public:
    explicit bounded_reader(const common::byte_source& in) : in_(in), size_(in.size()) {}

    // Throws unless `length` bytes from `offset` lie inside the file.
    void require(std::int64_t offset, std::int64_t length, const char* what) const {
        if (offset < 0 || length < 0 || offset > size_ || length > size_ - offset) {
            throw common::input_error(format_message(
                "Broken library: the %s at offset 0x%llx runs past the end of the file (%lld bytes).",
                what, offset, size_));
        }
    }

    void read(std::int64_t offset, std::span<std::uint8_t> dst, const char* what) const {
        require(offset, static_cast<std::int64_t>(dst.size()), what);
        if (!in_.read_at(offset, dst)) {
            throw common::input_error(format_message(
                "Read error: the %s at offset 0x%llx could not be read (file of %lld bytes).", what,
                offset, size_));
        }
    }

    std::uint16_t u16(std::int64_t offset, const char* what) const {
        std::array<std::uint8_t, 2> b{};
        read(offset, b, what);
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }

    std::uint32_t u32(std::int64_t offset, const char* what) const {
        std::array<std::uint8_t, 4> b{};
        read(offset, b, what);
        return le32(b.data());
    }

private:
    const common::byte_source& in_;
    std::int64_t size_;
};

struct dir_entry {
    std::uint32_t first;   // name string offset (named) or the ID
    std::uint32_t second;  // subdirectory or data entry offset
};

// One directory's entries: the first `named` are named by a string, the rest
// by an ID. Their position alone tells them apart.
struct directory {
    std::size_t named = 0;
    std::vector<dir_entry> entries;
};

// What one scan knows and carries between the three levels.
struct scan_state {
    const bounded_reader& in;
    std::uint32_t raw_data;        // PointerToRawData of the resource section
    std::uint32_t raw_size;        // its SizeOfRawData
    std::uint32_t virtual_address; // its VirtualAddress
    std::uint32_t entries_read = 0;
    resource_list& list;
    RESINFO current;               // the resource being walked
};

directory read_directory(scan_state& s, std::uint32_t dir_offset, const char* level) {
    const std::int64_t base = static_cast<std::int64_t>(s.raw_data) + dir_offset;
    // The 16-byte header ends with the two counts: named entries, then IDs.
    std::array<std::uint8_t, 16> header{};
    s.in.read(base, header, level);
    directory dir;
    dir.named = static_cast<std::size_t>(header[12] | (header[13] << 8));
    const std::size_t total = dir.named + static_cast<std::size_t>(header[14] | (header[15] << 8));
    if (total > max_directory_entries - s.entries_read) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "Broken library: more than %" PRIu32
                      " resource directory entries (the %s at offset 0x%llx).",
                      max_directory_entries, level, static_cast<unsigned long long>(base));
        throw common::input_error(line);
    }
    s.entries_read += static_cast<std::uint32_t>(total);
    std::vector<std::uint8_t> raw(total * 8);
    s.in.read(base + 16, raw, "directory entries");
    dir.entries.resize(total);
    for (std::size_t n = 0; n < total; ++n) {
        dir.entries[n] = {le32(&raw[8 * n]), le32(&raw[8 * n + 4])};
    }
    return dir;
}

void set_name(RESINFO& r, std::string_view text) {
    r.name.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), r.name.size()), r.name.begin());
}

// Language level: one record per ID entry; string-named languages are skipped.
void walk_languages(scan_state& s, std::uint32_t dir_offset) {
    const directory dir = read_directory(s, dir_offset, "language directory");
    for (std::size_t n = dir.named; n < dir.entries.size(); ++n) {
        const dir_entry& e = dir.entries[n];
        s.current.lang = static_cast<std::int32_t>(e.first);
        const std::int64_t entry = static_cast<std::int64_t>(s.raw_data) + (e.second & offset_mask);
        const std::uint32_t rva = s.in.u32(entry, "data entry");
        s.current.size = s.in.u32(entry + 4, "data entry");
        // Where the data starts inside the section, if it starts there at all.
        const std::int64_t into = std::int64_t{rva} - s.virtual_address;
        s.current.in_section = into >= 0 && into + s.current.size <= s.raw_size;
        // The data's RVA turned into a file offset through the resource
        // section, wrapping in 32 bits as the format's offsets do.
        s.current.offset = static_cast<std::int32_t>(rva + s.raw_data - s.virtual_address);
        add_resinfo(s.list, s.current);
    }
}

// Name level: string-named entries first, then ID entries, each walked.
void walk_names(scan_state& s, std::uint32_t dir_offset) {
    const directory dir = read_directory(s, dir_offset, "name directory");
    for (std::size_t n = 0; n < dir.entries.size(); ++n) {
        const dir_entry& e = dir.entries[n];
        if (n < dir.named) {
            const std::int64_t at = static_cast<std::int64_t>(s.raw_data) + (e.first & offset_mask);
            const std::uint16_t length = s.in.u16(at, "name string");
            s.in.require(at + 2, 2 * static_cast<std::int64_t>(length), "name string");
            std::array<std::uint8_t, 2 * name_units> str{};
            const std::size_t units = std::min<std::size_t>(length, name_units);
            s.in.read(at + 2, std::span(str).first(2 * units), "name string");
            std::array<char, 2 * name_units> buf{};
            u2aconv(std::span(str).first(2 * units), buf, length);
            set_name(s.current, std::string_view(buf.data()));
        } else {
            char id[16];
            std::snprintf(id, sizeof id, "0x%" PRIx32, e.first);
            set_name(s.current, id);
        }
        walk_languages(s, e.second & offset_mask);
    }
}

}  // namespace

void add_resinfo(resource_list& rlist, const RESINFO& resinfo) {
    rlist.push_back(resinfo);
    if (rlist_name(rlist.back()) == "CG02444") {
        // This picture's data begins 128 bytes into its resource.
        rlist.back().offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(resinfo.offset) + 0x80u);
    }
}

std::size_t u2aconv(std::span<const std::uint8_t> src, std::span<char> dst, std::uint16_t strnum) {
    if (dst.empty()) {
        return 0;
    }
    const std::size_t n = std::min({static_cast<std::size_t>(strnum), src.size() / 2, dst.size() - 1});
    for (std::size_t i = 0; i < n; ++i) {
        dst[i] = static_cast<char>(src[2 * i]);
    }
    dst[n] = '\0';
    return n;
}

std::string_view rlist_name(const RESINFO& record) {
    const auto end = std::find(record.name.begin(), record.name.end(), '\0');
    return {record.name.data(), static_cast<std::size_t>(end - record.name.begin())};
}

void scan_dll(const common::byte_source& library, resource_list& res_list) {
    const std::int64_t size = library.size();
    const bounded_reader in(library);

    // A PE file starts with the 64-byte "MZ" header, whose last field points
    // to the PE signature: a file that fails any of this is no PE file.
    const auto not_pe = [] { return common::fatal_error("This file is not PE format."); };
    constexpr std::int64_t mz_header_size = 0x40;
    if (size < mz_header_size) {
        throw not_pe();
    }
    std::array<std::uint8_t, 2> mz{};
    in.read(0, mz, "MZ header");
    const std::int64_t pe = in.u32(0x3C, "e_lfanew field");
    if (mz[0] != 'M' || mz[1] != 'Z' || pe > size - 4) {
        throw not_pe();
    }
    std::array<std::uint8_t, 4> signature{};
    in.read(pe, signature, "PE signature");
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0) {
        throw not_pe();
    }
    const std::uint16_t sections = in.u16(pe + 6, "NumberOfSections field");
    const std::uint16_t optional_size = in.u16(pe + 20, "SizeOfOptionalHeader field");

    const std::int64_t table = pe + 24 + optional_size;
    std::int64_t rsrc = -1;
    for (std::uint32_t i = 0; i < sections && rsrc < 0; ++i) {
        std::array<std::uint8_t, 8> name{};
        in.read(table + 40 * static_cast<std::int64_t>(i), name, "section header");
        if (std::memcmp(name.data(), ".rsrc", 6) == 0) {
            rsrc = table + 40 * static_cast<std::int64_t>(i);
        }
    }
    if (rsrc < 0) {
        throw common::fatal_error("No .rsrc section.");
    }

    const std::uint32_t virtual_address = in.u32(rsrc + 12, "VirtualAddress field");
    const std::uint32_t raw_size = in.u32(rsrc + 16, "SizeOfRawData field");
    const std::uint32_t raw_data = in.u32(rsrc + 20, "PointerToRawData field");
    scan_state s{in, raw_data, raw_size, virtual_address, 0, res_list, {}};
    const directory root = read_directory(s, 0, "type directory");
    for (std::size_t n = root.named; n < root.entries.size(); ++n) {
        s.current.type = static_cast<std::int32_t>(root.entries[n].first);
        walk_names(s, root.entries[n].second & offset_mask);
    }
}

const RESINFO* search_rlist(const resource_list& rlist, std::string_view key) {
    for (const RESINFO& r : rlist) {
        if (rlist_name(r) == key) {
            return &r;
        }
    }
    return nullptr;
}

const RESINFO* search_rlist(const resource_list& rlist, std::string_view key, std::int32_t type) {
    for (const RESINFO& r : rlist) {
        if (r.type == type && rlist_name(r) == key) {
            return &r;
        }
    }
    return nullptr;
}

void print_rlist(const resource_list& rlist) {
    for (const RESINFO& r : rlist) {
        const std::string_view name = rlist_name(r);
        std::fprintf(stdout, "%.*s\n", static_cast<int>(name.size()), name.data());
    }
}

}  // namespace palm
