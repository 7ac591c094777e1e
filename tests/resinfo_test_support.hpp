// The resource list as plain records, for comparing a scan's list with the
// expected one in the resource scan tests.
#pragma once

#include "resinfo.hpp"
#include "resinfo_internal.hpp"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace resinfo_test {

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

// The records of `list` behind its head, in list order.
inline std::vector<rec> records(const RESINFO& list) {
    std::vector<rec> out;
    for (const RESINFO* r = list.next.get(); r != nullptr; r = r->next.get()) {
        out.push_back({r->type, std::string(rlist_name(*r)), r->lang, r->offset});
    }
    return out;
}

}  // namespace resinfo_test
