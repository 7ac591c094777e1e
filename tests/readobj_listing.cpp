#include "readobj_listing.hpp"

#include <optional>
#include <string_view>

#include "test_support.hpp"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace readobj {

namespace {

// Lines of a stream, read in large blocks: a listing of a few hundred
// libraries runs to a few hundred megabytes, most of it hex dumps.
class line_reader {
public:
    explicit line_reader(std::FILE* in) : in_(in) {}

    bool next(std::string& line) {
        line.clear();
        for (;;) {
            if (at_ == end_) {
                at_ = 0;
                end_ = std::fread(buf_, 1, sizeof buf_, in_);
                if (end_ == 0) {
                    return !line.empty();
                }
            }
            const std::string_view rest(buf_ + at_, end_ - at_);
            const auto nl = rest.find('\n');
            line.append(rest.substr(0, nl));
            at_ = nl == std::string_view::npos ? end_ : at_ + nl + 1;
            if (nl != std::string_view::npos) {
                return true;
            }
        }
    }

private:
    std::FILE* in_;
    char buf_[1 << 16];
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string_view::npos ? std::string_view() : s.substr(b, e - b + 1);
}

std::uint32_t hex(std::string_view s) {
    return static_cast<std::uint32_t>(std::stoul(std::string(s), nullptr, 16));
}

// A string name as the scan stores it: the UTF-8 label decoded to UTF-16
// code units, of which the low bytes up to the first zero one, at most 16.
std::string scan_name(std::string_view utf8) {
    std::string out;
    auto put = [&](std::uint32_t unit) { out.push_back(static_cast<char>(unit & 0xFF)); };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        std::uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (cp > 0xFFFF) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    out = out.substr(0, out.find('\0'));
    return out.substr(0, 16);
}

}  // namespace

std::vector<library> parse(std::FILE* in) {
    std::vector<library> out;
    line_reader lines(in);
    std::string raw;
    bool in_rsrc_header = false;
    std::optional<std::uint32_t> type;
    std::optional<std::uint32_t> lang;
    std::string name;
    bool name_is_id = false;
    while (lines.next(raw)) {
        const std::string_view line = trim(raw);
        const auto colon = line.find(": ");
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view field = line.substr(0, colon);
        std::string_view label = line.substr(colon + 2);
        if (field == "File") {
            out.emplace_back();
            out.back().file = label;
            in_rsrc_header = false;
            continue;
        }
        if (out.empty()) {
            continue;
        }
        library& lib = out.back();
        if (field == "Name" && label.starts_with(".rsrc (") && !lib.has_rsrc) {
            // A section header: "Name: .rsrc (2E 72 73 72 63 00 00 00)".
            lib.has_rsrc = true;
            in_rsrc_header = true;
        } else if (in_rsrc_header && field == "VirtualAddress") {
            lib.rsrc_address = hex(label);
        } else if (in_rsrc_header && field == "PointerToRawData") {
            lib.rsrc_raw = hex(label);
            in_rsrc_header = false;
        } else if ((field == "Type" || field == "Name" || field == "Language") && label.ends_with(" [")) {
            label.remove_suffix(2);
            // "(ID 6)" at the end for an ID, "STRINGTABLE (ID 6)" for a known
            // type, "ID 40" for a type it has no name for
            std::optional<std::uint32_t> id;
            if (const auto at = label.rfind("(ID "); at != std::string_view::npos && label.ends_with(")")) {
                id = static_cast<std::uint32_t>(std::stoul(std::string(label.substr(at + 4))));
            } else if (field == "Type" && label.starts_with("ID ") && label.size() > 3 &&
                       label.find_first_not_of("0123456789", 3) == std::string_view::npos) {
                id = static_cast<std::uint32_t>(std::stoul(std::string(label.substr(3))));
            }
            const bool is_id = id.has_value();
            const std::uint32_t value = id.value_or(0);
            if (field == "Type") {
                type = is_id ? std::optional(value) : std::nullopt;
            } else if (field == "Name") {
                char id_name[16];
                std::snprintf(id_name, sizeof id_name, "0x%x", value);
                name = is_id ? std::string(id_name) : scan_name(label);
                name_is_id = is_id;
            } else {
                lang = is_id ? std::optional(value) : std::nullopt;
            }
        } else if (field == "DataRVA" && type && lang) {
            const std::uint32_t offset =
                hex(label) - lib.rsrc_address + lib.rsrc_raw + (name == "CG02444" ? 128u : 0u);
            lib.records.push_back({static_cast<std::int32_t>(*type), name, static_cast<std::int32_t>(*lang),
                                   static_cast<std::int32_t>(offset)});
            lib.named_by_id.push_back(name_is_id);
        }
    }
    return out;
}

listing run(const std::vector<std::string>& files) {
    std::string command = "llvm-readobj --sections --coff-resources";
    for (const auto& f : files) {
        command += " \"" + f + "\"";
    }
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return {-1, {}};
    }
    listing l{0, parse(p)};
    l.status = test_support::exit_status(pclose(p));
    return l;
}

}  // namespace readobj
