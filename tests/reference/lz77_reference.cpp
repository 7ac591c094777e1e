#include "lz77_reference.hpp"

#include <array>
#include <cassert>

namespace lz77_reference {

namespace {

constexpr int N = 4096;       // ring size
constexpr int F = 18;         // look-ahead size, longest match
constexpr int THRESHOLD = 2;  // matches this short go out as literals
constexpr int NIL = N;        // no child, no parent, not in a tree

// The ring and the trees, shared by every call; 4097 + b in rson is the root
// of first byte b.
std::array<std::uint8_t, N + F - 1> text_buf;
std::array<int, N + 1> lson;
std::array<int, N + 257> rson;
std::array<int, N + 1> dad;
int match_position;
int match_length;

void init_tree() {
    for (int i = N + 1; i <= N + 256; i++) {
        rson[i] = NIL;
    }
    for (int i = 0; i < N; i++) {
        dad[i] = NIL;
    }
}

void insert_node(int r) {
    int i = 0;
    int cmp = 1;
    const std::uint8_t* key = &text_buf[r];
    int p = N + 1 + key[0];
    rson[r] = lson[r] = NIL;
    match_length = 0;
    for (;;) {
        if (cmp >= 0) {
            if (rson[p] != NIL) {
                p = rson[p];
            } else {
                rson[p] = r;
                dad[r] = p;
                return;
            }
        } else {
            if (lson[p] != NIL) {
                p = lson[p];
            } else {
                lson[p] = r;
                dad[r] = p;
                return;
            }
        }
        for (i = 1; i < F; i++) {
            if ((cmp = key[i] - text_buf[p + i]) != 0) {
                break;
            }
        }
        if (i > match_length) {
            match_position = p;
            if ((match_length = i) >= F) {
                break;
            }
        }
    }
    // Full match: r takes p's place.
    dad[r] = dad[p];
    lson[r] = lson[p];
    rson[r] = rson[p];
    dad[lson[p]] = r;
    dad[rson[p]] = r;
    if (rson[dad[p]] == p) {
        rson[dad[p]] = r;
    } else {
        lson[dad[p]] = r;
    }
    dad[p] = NIL;
}

void delete_node(int p) {
    int q = 0;
    if (dad[p] == NIL) {
        return;
    }
    if (rson[p] == NIL) {
        q = lson[p];
    } else if (lson[p] == NIL) {
        q = rson[p];
    } else {
        q = lson[p];
        if (rson[q] != NIL) {
            do {
                q = rson[q];
            } while (rson[q] != NIL);
            rson[dad[q]] = lson[q];
            dad[lson[q]] = dad[q];
            lson[q] = lson[p];
            dad[lson[p]] = q;
        }
        rson[q] = rson[p];
        dad[rson[p]] = q;
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p) {
        rson[dad[p]] = q;
    } else {
        lson[dad[p]] = q;
    }
    dad[p] = NIL;
}

}  // namespace

std::size_t compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    const std::size_t n = in.size();
    assert(out.size() >= n + (n + 7) / 8);
    std::array<std::uint8_t, 17> code_buf{};
    std::size_t ip = 0;
    std::size_t op = 0;
    int i = 0;
    int len = 0;

    init_tree();
    code_buf[0] = 0;
    int code_buf_ptr = 1;
    std::uint8_t mask = 0x80;
    int s = 0;
    int r = N - F;
    for (i = s; i < r; i++) {
        text_buf[i] = 0;
    }
    for (len = 0; len < F && ip < n; len++) {
        text_buf[r + len] = in[ip++];
    }
    if (len == 0) {
        return 0;
    }
    for (i = 1; i <= F; i++) {
        insert_node(r - i);
    }
    insert_node(r);
    do {
        if (match_length > len) {
            match_length = len;
        }
        if (match_length <= THRESHOLD) {
            match_length = 1;
            code_buf[0] |= mask;
            code_buf[code_buf_ptr++] = text_buf[r];
        } else {
            code_buf[code_buf_ptr++] = static_cast<std::uint8_t>(((match_position & 0x0F) << 4) |
                                                                 (match_length - (THRESHOLD + 1)));
            code_buf[code_buf_ptr++] = static_cast<std::uint8_t>(match_position >> 4);
        }
        mask >>= 1;
        if (mask == 0) {
            for (i = 0; i < code_buf_ptr; i++) {
                out[op++] = code_buf[i];
            }
            code_buf[0] = 0;
            code_buf_ptr = 1;
            mask = 0x80;
        }
        const int last_match_length = match_length;
        for (i = 0; i < last_match_length && ip < n; i++) {
            const std::uint8_t c = in[ip++];
            delete_node(s);
            text_buf[s] = c;
            if (s < F - 1) {
                text_buf[s + N] = c;
            }
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            insert_node(r);
        }
        while (i++ < last_match_length) {
            delete_node(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len != 0) {
                insert_node(r);
            }
        }
    } while (len > 0);
    if (code_buf_ptr > 1) {
        for (i = 0; i < code_buf_ptr; i++) {
            out[op++] = code_buf[i];
        }
    }
    return op;
}

void reset() {
    text_buf.fill(0);
    lson.fill(0);
    rson.fill(0);
    dad.fill(0);
    match_position = 0;
    match_length = 0;
}

}  // namespace lz77_reference
