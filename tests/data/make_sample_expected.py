#!/usr/bin/env python3
"""Expected chunk texts of the sample message library.

Reads examples/rumomsg.dll with a small PE resource walk of its own, takes the
16 strings of each of the message blocks 0x7..0x2a, and for every non-empty
string writes the text that `cutter` must produce before compression: the
Shift_JIS form of the string, reflowed, with its closing NUL (raw bytes), into
tests/data/sample_expected/<chunk name>.

It also writes sample_expected/index.txt, one line per chunk in cutter's
order:

    <chunk name> (size = <bytes>) uid <unique ID>[ unmapped <count>]

"<chunk name> (size = <bytes>)" is cutter's progress line for the chunk
(bytes = 2 x UTF-16 code units), the unique ID is the one crate gives the
chunk file (2500 + 20 x block + index), and "unmapped <count>" is present when
<count> code units of the string have no JIS X 0208 character and were
replaced by the geta mark 0x81 0xAC. Lines starting with '#' are comments.

Nothing here shares code with the C++ programs: the conversion uses Python's
'shift_jis' codec and the reflow is written out from the rules in
rearrange() below. Standard library only.

Usage: make_sample_expected.py [DLL [OUTPUT_DIR]]
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DEFAULT_DLL = os.path.join(ROOT, "examples", "rumomsg.dll")
DEFAULT_OUT = os.path.join(HERE, "sample_expected")

FIRST_BLOCK, LAST_BLOCK = 0x7, 0x2A
RT_STRING = 6
GETA = b"\x81\xac"  # replacement for a code unit without a JIS X 0208 character
FULL_WIDTH_SPACE = b"\x81\x40"
LF, SPACE = 0x0A, 0x20
MAX_UNITS = 2000  # the sample keeps every string well inside the 8000-byte buffers

# Characters whose JIS X 0208 code differs between converters (the font file
# is made with another converter than Python's codec): the sample must not
# use them, or the expected texts would prove nothing.
AMBIGUOUS = {0xFF5E, 0x301C, 0x2225, 0x2016, 0xFF0D, 0x2212, 0x2014, 0x2015,
             0x00A5, 0x203E, 0xFF3C}
AMBIGUOUS.update(range(0xFFE0, 0xFFE6))
# The characters from U+0080 to U+00FF that get a two-byte code (section sign,
# diaeresis, degree, plus-minus, acute accent, pilcrow, multiplication and
# division signs); the codec gives their codes. All others become the geta mark.
LATIN1_MAPPED = {0xA7, 0xA8, 0xB0, 0xB1, 0xB4, 0xB6, 0xD7, 0xF7}


class SampleError(Exception):
    """The library or its text is not what the sample promises."""


# ---------------------------------------------------------------------------
# PE resource walk


class Reader:
    """Bounded little-endian reads from a bytes object."""

    def __init__(self, data):
        self.data = data

    def u16(self, off):
        return self._unpack("<H", off, 2)

    def u32(self, off):
        return self._unpack("<I", off, 4)

    def bytes(self, off, n):
        if off < 0 or n < 0 or off + n > len(self.data):
            raise SampleError("read of %d bytes at 0x%x is past the end" % (n, off))
        return self.data[off:off + n]

    def _unpack(self, fmt, off, n):
        return struct.unpack(fmt, self.bytes(off, n))[0]


def id_entries(r, dir_off):
    """(id, target offset, is_subdirectory) of a directory's ID entries."""
    named = r.u16(dir_off + 12)
    ids = r.u16(dir_off + 14)
    out = []
    for n in range(named, named + ids):
        first = r.u32(dir_off + 16 + 8 * n)
        second = r.u32(dir_off + 20 + 8 * n)
        out.append((first, second & 0x7FFFFFFF, bool(second & 0x80000000)))
    return out


def string_blocks(dll):
    """Map block number -> raw bytes of that string-table block (first language)."""
    r = Reader(dll)
    pe = r.u32(0x3C)
    if r.bytes(pe, 4) != b"PE\0\0":
        raise SampleError("not a PE file")
    sections = r.u16(pe + 6)
    table = pe + 24 + r.u16(pe + 20)
    for s in range(sections):
        hdr = table + 40 * s
        if r.bytes(hdr, 8).rstrip(b"\0") == b".rsrc":
            vaddr, raw = r.u32(hdr + 12), r.u32(hdr + 20)
            break
    else:
        raise SampleError("no .rsrc section")

    blocks = {}
    for type_id, type_dir, sub in id_entries(r, raw):
        if type_id != RT_STRING or not sub:
            continue
        for name_id, name_dir, sub in id_entries(r, raw + type_dir):
            if not sub:
                raise SampleError("string block %d has no language level" % name_id)
            langs = id_entries(r, raw + name_dir)
            if len(langs) != 1:
                raise SampleError("string block %d has %d languages" % (name_id, len(langs)))
            _, entry, _ = langs[0]
            rva, size = r.u32(raw + entry), r.u32(raw + entry + 4)
            blocks[name_id] = r.bytes(rva - vaddr + raw, size)
    return blocks


def block_strings(data):
    """The 16 strings of a string-table block, each a list of UTF-16 code units."""
    r = Reader(data)
    pos, out = 0, []
    for _ in range(16):
        n = r.u16(pos)
        out.append(list(struct.unpack("<%dH" % n, r.bytes(pos + 2, 2 * n))))
        pos += 2 + 2 * n
    return out


# ---------------------------------------------------------------------------
# Conversion and reflow


def to_shift_jis(units):
    """Shift_JIS bytes of UTF-16 code units and the count of unmapped ones.

    A code unit up to U+007F gives its low byte. From U+0080 up each code unit
    gives two bytes: the Shift_JIS code of its JIS X 0208 character, or the
    geta mark when it has none (surrogates are never combined). Of U+0080 to
    U+00FF only the eight listed in LATIN1_MAPPED have a code."""
    out, unmapped = bytearray(), 0
    for u in units:
        if u in AMBIGUOUS:
            raise SampleError("U+%04X maps differently between converters" % u)
        if u <= 0x7F:
            out.append(u)
            continue
        code = None
        # The font file starts at U+0391 and has no entry for U+FFFF.
        if u in LATIN1_MAPPED or (0x391 <= u <= 0xFFFE and not 0xD800 <= u <= 0xDFFF):
            try:
                code = chr(u).encode("shift_jis")
            except UnicodeEncodeError:
                pass
        # Only double-byte JIS X 0208 codes count as mapped (lead bytes
        # 0x81..0x9F and 0xE0..0xEF); half-width katakana are single bytes.
        if code is None or len(code) != 2 or not (0x81 <= code[0] <= 0x9F or 0xE0 <= code[0] <= 0xEF):
            code, unmapped = GETA, unmapped + 1
        out += code
    return bytes(out), unmapped


def strip_mode(block, index):
    return (block == 0x1D and index == 0) or (block == 0x1C and index > 5)


def rearrange(text, block, index):
    """Reflow a text that ends in its NUL; returns the new text with its NUL.

    Texts of at most 99 bytes (NUL counted) are left alone. A byte of 0x80 or
    more begins a two-byte character whatever follows it. Strip mode removes
    every space and full-width space and keeps the 1st, 3rd, 5th... line break
    of each run; join mode removes a line break that follows a two-byte
    character other than the full-width space, unless the next line begins
    with a full-width space, r or w."""
    size = len(text)
    if not text or text[-1] != 0:
        raise SampleError("text without its closing NUL")
    if size <= 99:
        return text
    strip = strip_mode(block, index)
    out = bytearray()
    i, prev, flip = 0, 0, 0
    while i < size:
        c = text[i]
        if c >= 0x80:                                  # two-byte character
            pair = text[i:i + 2]
            if not (strip and pair == FULL_WIDTH_SPACE):
                out += pair
            prev, i = -1, i + 2
            continue
        if strip and c == SPACE:
            prev, i = SPACE, i + 1
            continue
        if c == LF:
            if strip:
                if prev == LF and flip == 1:
                    flip = 0                           # removed
                else:
                    out.append(c)
                    flip = 1
            else:
                remove = (prev == -1
                          and text[i - 2:i] != FULL_WIDTH_SPACE
                          and not (text[i + 1] == 0x81 and text[i + 2] == 0x40)
                          and text[i + 1] not in (0x72, 0x77))
                if not remove:
                    out.append(c)
            prev, i = LF, i + 1
            continue
        out.append(c)                                  # any other one-byte character, NUL too
        prev, i = c, i + 1
    return bytes(out)


# ---------------------------------------------------------------------------
# Output


def chunks(dll):
    """Yield (name, size, uid, unmapped, expected bytes) in cutter's order."""
    blocks = string_blocks(dll)
    for block in range(FIRST_BLOCK, LAST_BLOCK + 1):
        if block not in blocks:
            raise SampleError("block 0x%x is missing" % block)
        strings = block_strings(blocks[block])
        if not any(strings):
            raise SampleError("block 0x%x holds no string" % block)
        for index, units in enumerate(strings):
            if not units:
                continue
            if len(units) > MAX_UNITS:
                raise SampleError("0x%x_%02d has %d code units" % (block, index, len(units)))
            text, unmapped = to_shift_jis(units)
            expected = rearrange(text + b"\0", block, index)
            yield ("0x%x_%02d.txt" % (block, index), 2 * len(units),
                   2500 + 20 * block + index, unmapped, expected)


def write_expected(dll_path, out_dir):
    with open(dll_path, "rb") as f:
        dll = f.read()
    os.makedirs(out_dir, exist_ok=True)
    for old in os.listdir(out_dir):
        if old.endswith(".txt"):
            os.remove(os.path.join(out_dir, old))
    lines = ["# chunk (size = bytes) uid <unique ID>[ unmapped <code units replaced>]"]
    for name, size, uid, unmapped, expected in chunks(dll):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(expected)
        line = "%s (size = %d) uid %d" % (name, size, uid)
        if unmapped:
            line += " unmapped %d" % unmapped
        lines.append(line)
    with open(os.path.join(out_dir, "index.txt"), "wb") as f:
        f.write(("\n".join(lines) + "\n").encode("ascii"))
    return len(lines) - 1


def main(argv):
    dll = argv[1] if len(argv) > 1 else DEFAULT_DLL
    out = argv[2] if len(argv) > 2 else DEFAULT_OUT
    try:
        n = write_expected(dll, out)
    except (OSError, SampleError) as e:
        print("make_sample_expected: %s" % e, file=sys.stderr)
        return 1
    print("%d chunks written to %s" % (n, out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
