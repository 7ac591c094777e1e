// The resource list as plain records, for comparing a scan's list with the
// expected one in the resource scan tests.
#pragma once

#include "pe_resources.hpp"
#include "pe_resources_internal.hpp"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pe_resources_test {

struct rec {
    std::int32_t type;
    std::string name;
    std::int32_t lang;
    std::int32_t offset;
    bool operator==(const rec&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const rec& r) {
    return os << "{" << r.type << ", \"" << r.name << "\", " << r.lang << ", " << r.offset << "}";
}

// The records of `list`, in list order.
inline std::vector<rec> records(const palm::resource_list& list) {
    std::vector<rec> out;
    for (const palm::RESINFO& r : list) {
        out.push_back({r.type, std::string(palm::rlist_name(r)), r.lang, r.offset});
    }
    return out;
}

}  // namespace pe_resources_test
