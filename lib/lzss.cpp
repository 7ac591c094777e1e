#include "lzss.hpp"

#include <algorithm>
#include <bit>
#include <cassert>

// The tree walk's two conditional moves are spelt out in assembly on x86-64
// with GCC or clang; PALMPORT_PORTABLE_LZSS (the CMake option of that name)
// builds the plain C++ of the same steps instead, on any machine. Both write
// the same bytes.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(PALMPORT_PORTABLE_LZSS)
#define PALM_LZSS_X86_ASM 1
#else
#define PALM_LZSS_X86_ASM 0
#endif

namespace palm {

namespace {

constexpr std::int32_t ring_mask = ring_size - 1;
constexpr std::size_t last_index = ring_size + lookahead_size - 2;  // 4112, the last straight index

// Tree nodes are numbered so that a node's number is also where its bytes
// are: ring position p is node 4104 - p, and the ring is kept back to front
// (straight index i at text[4112 - i]), so node n's string has byte 0 at
// text[n + 8], bytes 1 to 8 at text[n] to text[n + 7] (byte 1 highest, ready
// to load as one ordered number), bytes 9 to 16 at text[n - 8] and byte 17 at
// text[n - 9].
constexpr std::size_t none = 0;          // no node: no child, no parent, not in a tree
constexpr std::size_t first_root = 4105;  // the root of first byte b is first_root + b

constexpr std::size_t node_of(std::int32_t p) {
    return last_index - 8 - static_cast<std::size_t>(p);  // where p's bytes 1 to 8 begin
}
constexpr std::int32_t position_of(std::size_t n) {
    return static_cast<std::int32_t>(node_of(0) - n);
}
static_assert(node_of(ring_size - 1) > none && node_of(0) + 8 == last_index && node_of(0) < first_root);

// A node number as stored in a link table.
lz77_link link(std::size_t n) {
    assert(n < first_root + 256);
    return static_cast<lz77_link>(n);
}

// The ring byte at straight index i (0 to 4112).
std::uint8_t& byte_at(lz77_state& st, std::size_t i) {
    assert(i <= last_index);
    return st.text[last_index - i];
}

// Eight bytes from text[w] on as one number with text[w + 7] highest; for
// w = node n that is the node's bytes 1 to 8, the first highest, so comparing
// two such numbers orders the strings like comparing the bytes one by one.
// Compilers make this one load on little-endian machines.
std::uint64_t load_word(const lz77_state& st, std::size_t w) {
    assert(w + 8 <= st.text.size());
    const std::uint8_t* b = st.text.data() + w;
    return (std::uint64_t{b[7]} << 56) | (std::uint64_t{b[6]} << 48) | (std::uint64_t{b[5]} << 40) |
           (std::uint64_t{b[4]} << 32) | (std::uint64_t{b[3]} << 24) | (std::uint64_t{b[2]} << 16) |
           (std::uint64_t{b[1]} << 8) | std::uint64_t{b[0]};
}

// a < b ? if_below : otherwise, as a conditional move. The tree walk follows
// the text, so its direction is as good as unpredictable, and a mispredicted
// branch costs more than the whole step; compilers turn a plain ?: into a
// branch when the surrounding code grows, so on x86-64 the move is spelt out.
std::size_t select_if_below(std::uint64_t a, std::uint64_t b, std::size_t if_below, std::size_t otherwise) {
#if PALM_LZSS_X86_ASM
    asm("cmp %[b], %[a]\n\t"
        "cmovb %[if_below], %[result]"
        : [result] "+r"(otherwise)
        : [a] "r"(a), [b] "r"(b), [if_below] "r"(if_below)
        : "cc");
    return otherwise;
#else
    return a < b ? if_below : otherwise;
#endif
}

// The bytes two strings share before their first difference among eight,
// times 8: the leading zero bits of a ^ b rounded down to whole bytes. a != b.
std::int32_t shared_bits(std::uint64_t a, std::uint64_t b) {
    return std::countl_zero(a ^ b) & 0x38;
}

// When shared > best: best = shared and n = node, as conditional moves (see
// select_if_below); whether a node beats the best so far is hard to predict.
void keep_longer(std::int32_t shared, std::size_t node, std::int32_t& best, std::size_t& n) {
#if PALM_LZSS_X86_ASM
    asm("cmp %[best], %[shared]\n\t"
        "cmovg %[shared], %[best]\n\t"
        "cmovg %[node], %[n]"
        : [best] "+r"(best), [n] "+r"(n)
        : [shared] "r"(shared), [node] "r"(node)
        : "cc");
#else
    n = shared > best ? node : n;
    best = shared > best ? shared : best;
#endif
}

// The link of `parent` (a node or a root) that points to `child`: the right
// link when it does, else the left. Chosen without a branch; a root's unused
// left entry exists, so both candidates are always in the tables.
lz77_link& link_to(lz77_state& st, std::size_t parent, std::size_t child) {
    lz77_link* const right = &st.rson[parent];
    lz77_link* const left = &st.lson[parent];
    return *(*right == child ? right : left);
}

// Empties every tree: no root has a child and no position is in a tree. The
// child links of positions are set when a position is inserted.
void init_tree(lz77_state& st) {
    std::fill(st.rson.begin() + first_root, st.rson.end(), link(none));
    std::fill(st.dad.begin(), st.dad.begin() + first_root, link(none));
}

// Puts node r in node old's place in its tree; old leaves the tree. r's string
// equals old's in all 18 bytes, so the order of the tree is kept.
void replace_node(lz77_state& st, std::size_t old, std::size_t r) {
    const std::size_t parent = st.dad[old];
    const std::size_t left = st.lson[old];
    const std::size_t right = st.rson[old];
    st.dad[r] = link(parent);
    st.lson[r] = link(left);
    st.rson[r] = link(right);
    st.dad[left] = link(r);
    st.dad[right] = link(r);
    link_to(st, parent, old) = link(r);
    st.dad[old] = link(none);
}

// What an insertion looks for: only the insertion just before an item is
// coded needs the longest match; the others only place the position.
enum class search { place, find_match };

// The outcome of an insertion, in ring positions.
struct insertion {
    std::int32_t replaced;  // the position equal to r in all 18 bytes, now out of its tree; ring_size if none
    std::int32_t matchpos;  // the longest match met (search::find_match only)
    std::int32_t matchlen;  // its length, 0 when the tree was empty
};

// Inserts ring position r (0 to 4095) into the tree of its first byte; with
// search::find_match it also finds the longest match met on the way. Bytes 1
// to 17 of a string are read at straight indexes (up to 4112), never wrapped.
// Of equally long candidates the first met stays the match; a node equal in
// all 18 bytes is replaced by r. Inlined into the encoder's loop, where it
// runs once per input byte.
template <search what>
[[gnu::always_inline]] inline insertion insert_node(lz77_state& st, std::int32_t r) {
    assert(r >= 0 && r < ring_size);
    constexpr bool find_match = what == search::find_match;
    const std::size_t key = node_of(r);
    // The key's bytes 1 to 8 decide nearly every step; bytes 9 to 17 are read
    // only when those are all equal.
    const std::uint64_t key_a = load_word(st, key);

    st.lson[key] = link(none);
    st.rson[key] = link(none);
    std::size_t match = none;
    // The longest match so far as 8 times the bytes after the first that it
    // shares (8 * (length - 1)); -8 while no node has been met.
    std::int32_t best = -8;
    // Walk down from the root of the key's first byte, which has only a
    // right link, to the free link where r is attached; went_right tells
    // which side of `parent` that is.
    std::size_t parent = first_root + st.text[key + 8];
    bool went_right = true;
    std::size_t p = st.rson[parent];
    while (p != none) {
        // Both children are fetched along with the node's bytes, so the next
        // node can be loaded as soon as the comparison is done.
        const std::size_t left_kid = st.lson[p];
        const std::size_t right_kid = st.rson[p];
        std::int32_t shared = 0;
        std::size_t next;
        const std::uint64_t node_a = load_word(st, p);
        // Bytes 1 to 8 nearly always settle a step; laid out as the straight
        // path of the loop.
        if (key_a != node_a) [[likely]] {
            if (find_match) {
                shared = shared_bits(key_a, node_a);
            }
            next = select_if_below(node_a, key_a, right_kid, left_kid);
            went_right = node_a < key_a;
        } else {
            const std::uint64_t key_b = load_word(st, key - 8);
            const std::uint64_t node_b = load_word(st, p - 8);
            if (key_b != node_b) {
                shared = 64 + shared_bits(key_b, node_b);
                went_right = key_b > node_b;
            } else {
                const std::int32_t key_last = st.text[key - 9];
                const std::int32_t node_last = st.text[p - 9];
                shared = key_last != node_last ? 128 : 136;
                went_right = key_last >= node_last;
            }
            next = went_right ? right_kid : left_kid;
        }
        // Only a strictly longer match replaces the one met earlier. A full
        // match is always longer than any before it.
        if (find_match) {
            keep_longer(shared, p, best, match);
        }
        if (shared == 136) {
            break;
        }
        parent = p;
        p = next;
    }
    const insertion found{p == none ? ring_size : position_of(p), position_of(match), 1 + (best >> 3)};
    if (p == none) {
        // Which side is free follows the text: the link is chosen without a
        // branch.
        lz77_link* const right = &st.rson[parent];
        lz77_link* const left = &st.lson[parent];
        *(went_right ? right : left) = link(key);
        st.dad[key] = link(parent);
        return found;
    }
    // Full match: r takes the old node's place, so equal strings never
    // coexist.
    replace_node(st, p, key);
    return found;
}

// Takes ring position s out of its tree; nothing when it is in none. Writes
// through an empty link land in dad[none], which is never read as a parent.
void delete_node(lz77_state& st, std::int32_t s) {
    assert(s >= 0 && s < ring_size);
    const std::size_t p = node_of(s);
    if (st.dad[p] == none) {
        return;
    }
    std::size_t q;
    if (st.rson[p] == none) {
        q = st.lson[p];
    } else if (st.lson[p] == none) {
        q = st.rson[p];
    } else {
        q = st.lson[p];
        if (st.rson[q] != none) {
            // The rightmost node of p's left subtree takes p's place.
            do {
                q = st.rson[q];
            } while (st.rson[q] != none);
            st.rson[st.dad[q]] = st.lson[q];
            st.dad[st.lson[q]] = st.dad[q];
            st.lson[q] = st.lson[p];
            st.dad[st.lson[p]] = link(q);
        }
        st.rson[q] = st.rson[p];
        st.dad[st.rson[p]] = link(q);
    }
    st.dad[q] = st.dad[p];
    link_to(st, st.dad[p], p) = link(q);
    st.dad[p] = link(none);
}

// Appends whole groups to the caller's buffer, counting every byte but
// writing only those that fit.
struct stream_writer {
    std::span<std::uint8_t> dst;
    std::size_t size = 0;

    void append(std::span<const std::uint8_t> bytes) {
        if (size < dst.size()) {
            const std::size_t room = dst.size() - size;
            const std::size_t n = std::min(room, bytes.size());
            std::copy_n(bytes.begin(), n, dst.begin() + static_cast<std::ptrdiff_t>(size));
        }
        size += bytes.size();
    }
};

}  // namespace

lz77_result lz77_compress(lz77_state& st, std::span<const std::uint8_t> img, std::span<std::uint8_t> dst) {
    init_tree(st);
    // One group: a flag byte and up to eight items of at most two bytes.
    std::array<std::uint8_t, 17> code{};
    std::size_t codeptr = 1;
    std::uint8_t mask = 0x80;
    std::int32_t s = 0;
    std::int32_t r = first_position;
    // Ring positions 0 to 4077, kept at the back of `text`.
    std::fill(st.text.begin() + (last_index - (first_position - 1)), st.text.end(), std::uint8_t{0});

    std::size_t in = 0;
    std::int32_t len = 0;
    while (len < lookahead_size && in < img.size()) {
        byte_at(st, static_cast<std::size_t>(r + len)) = img[in++];
        ++len;
    }
    if (len == 0) {
        return {0, lz77_status::ok};
    }
    // The 18 positions before the first byte are zeros that the first
    // matches may use.
    for (std::int32_t i = 1; i <= lookahead_size; ++i) {
        insert_node<search::place>(st, r - i);
    }
    // The latest insertion: the match to code next, and the node it found
    // equal in all 18 bytes.
    insertion latest = insert_node<search::find_match>(st, r);

    stream_writer out{dst};
    do {
        const std::int32_t matchlen = std::min(latest.matchlen, len);  // a match never runs past the input
        std::int32_t lastmatchlen = matchlen;
        if (matchlen <= match_threshold) {
            lastmatchlen = 1;
            code[0] = static_cast<std::uint8_t>(code[0] | mask);
            code[codeptr++] = byte_at(st, static_cast<std::size_t>(r));
        } else {
            code[codeptr++] =
                static_cast<std::uint8_t>(((latest.matchpos & 0x0F) << 4) | (matchlen - (match_threshold + 1)));
            code[codeptr++] = static_cast<std::uint8_t>(latest.matchpos >> 4);
        }
        mask = static_cast<std::uint8_t>(mask >> 1);
        if (mask == 0) {
            out.append(std::span(code).first(codeptr));
            code[0] = 0;
            codeptr = 1;
            mask = 0x80;
        }
        // Slide the window over the bytes just coded: the oldest position
        // leaves its tree and takes the next input byte while input remains,
        // else the look-ahead shrinks; the new position r joins its tree
        // while look-ahead remains.
        for (std::int32_t i = 0; i < lastmatchlen; ++i) {
            delete_node(st, s);
            if (in < img.size()) {
                const std::uint8_t c = img[in++];
                byte_at(st, static_cast<std::size_t>(s)) = c;
                if (s < lookahead_size - 1) {
                    byte_at(st, static_cast<std::size_t>(s + ring_size)) = c;
                }
            } else {
                --len;
            }
            s = (s + 1) & ring_mask;
            r = (r + 1) & ring_mask;
            if (len == 0) {
                continue;
            }
            // In a run or a repeat the previous position's string equalled
            // that of position latest.replaced in all 18 bytes, so r's string
            // shares 17 bytes with the string of the position after it. If the
            // 18th byte agrees too and that position is in a tree, the search
            // for r would end there in a full match: r takes its place at
            // once. Both strings are read at straight indexes, which continue
            // each other only when neither r nor that position starts the ring.
            const std::int32_t next = latest.replaced + 1;
            if (latest.replaced < ring_size - 1 && r != 0 && st.dad[node_of(next)] != none &&
                byte_at(st, static_cast<std::size_t>(r) + 17) == byte_at(st, static_cast<std::size_t>(next) + 17)) {
                replace_node(st, node_of(next), node_of(r));
                latest = {next, next, lookahead_size};
            } else if (i + 1 < lastmatchlen) {
                latest = insert_node<search::place>(st, r);
            } else {
                latest = insert_node<search::find_match>(st, r);
            }
        }
    } while (len > 0);
    if (codeptr > 1) {
        out.append(std::span(code).first(codeptr));
    }
    return {out.size, out.size <= dst.size() ? lz77_status::ok : lz77_status::overflow};
}

lz77_decoded lz77_decompress(std::span<const std::uint8_t> stream, std::size_t max_size) {
    lz77_decoded result{{}, lz77_decode_status::ok};
    // No item yields more than 18 bytes from 2 stream bytes.
    result.bytes.reserve(stream.size() > max_size / 9 ? max_size : stream.size() * 9);
    std::array<std::uint8_t, ring_size> ring{};
    std::uint32_t w = first_position;
    std::size_t at = 0;
    const auto emit = [&](std::uint8_t c) {
        result.bytes.push_back(c);
        ring[w] = c;
        w = (w + 1) & ring_mask;
    };
    while (at < stream.size()) {
        const std::uint8_t flags = stream[at++];
        for (std::uint8_t bit = 0x80; bit != 0 && at < stream.size(); bit = static_cast<std::uint8_t>(bit >> 1)) {
            if ((flags & bit) != 0) {
                if (result.bytes.size() >= max_size) {
                    result.status = lz77_decode_status::too_long;
                    return result;
                }
                emit(stream[at++]);
                continue;
            }
            if (stream.size() - at < 2) {
                result.status = lz77_decode_status::truncated_match;
                return result;
            }
            const std::uint32_t b1 = stream[at];
            const std::uint32_t b2 = stream[at + 1];
            at += 2;
            const std::uint32_t pos = (b2 << 4) | (b1 >> 4);
            const std::uint32_t length = (b1 & 0x0F) + match_threshold + 1;
            for (std::uint32_t k = 0; k < length; ++k) {
                if (result.bytes.size() >= max_size) {
                    result.status = lz77_decode_status::too_long;
                    return result;
                }
                // Read after the previous byte is stored: a match may overlap
                // the bytes it produces.
                emit(ring[(pos + k) & ring_mask]);
            }
        }
    }
    return result;
}

}  // namespace palm
