"""Checks of the generator of the sample's expected chunk texts.

Run: python3 -B -m unittest test_make_sample_expected (from tests/data).
"""

import filecmp
import os
import tempfile
import unittest

import make_sample_expected as gen

K = "漢".encode("shift_jis")          # a two-byte character
FW = b"\x81\x40"                      # full-width space
A_SMALL = "ァ".encode("shift_jis")     # 0x83 0x40: second byte as in the full-width space
OPEN = "「".encode("shift_jis")        # 0x81 0x75: first byte as in the full-width space


def reflow_100(block, index, head, tail):
    """Reflow head + filler + tail + NUL, exactly 100 bytes; return (head, tail) parts."""
    fill = b"." * (99 - len(head) - len(tail))
    out = gen.rearrange(head + fill + tail + b"\0", block, index)
    return out[:out.index(fill)], out[out.index(fill) + len(fill):-1]


JOIN = (0x10, 3)
STRIP = (0x1C, 6)

# (name, (block, index), head, tail, expected head, expected tail)
REFLOW_CASES = [
    ("join removes a break between two-byte characters", JOIN, K + b"\n" + K, b"", K + K, b""),
    ("join keeps the second of two breaks", JOIN, K + b"\n\n" + K, b"", K + b"\n" + K, b""),
    ("join keeps a break after a one-byte character", JOIN, b"A\n" + K + b" \n" + K, b"",
     b"A\n" + K + b" \n" + K, b""),
    ("join keeps a break after a full-width space", JOIN, K + FW + b"\n" + K, b"", K + FW + b"\n" + K, b""),
    ("join keeps a break before a full-width space", JOIN, K + b"\n" + FW, b"", K + b"\n" + FW, b""),
    ("join keeps a break before r and w only", JOIN, K + b"\nr" + K + b"\nw" + K + b"\nR" + K + b"\nW",
     b"", K + b"\nr" + K + b"\nw" + K + b"R" + K + b"W", b""),
    ("join compares both bytes of the full-width space", JOIN,
     A_SMALL + b"\n" + K + b"\n" + A_SMALL + K + b"\n" + OPEN, b"", A_SMALL + K + A_SMALL + K + OPEN, b""),
    ("join reads the character before the break as it was, after a removal", JOIN,
     K + b"\n" + K + FW + b"\n" + K, b"", K + K + FW + b"\n" + K, b""),
    ("join keeps a break at the very start", JOIN, b"\n" + K, b"", b"\n" + K, b""),
    ("join removes a break just before the NUL", JOIN, b"", K + b"\n", b"", K),
    ("join keeps spaces and full-width spaces", JOIN, b" " + FW + b" ", b"", b" " + FW + b" ", b""),
    ("a high byte takes the next byte, even a line break", JOIN, b"\xe9\n\n" + K, b"", b"\xe9\n" + K, b""),
    ("a high byte takes the NUL as its second byte", JOIN, b"", b"\xe9", b"", b"\xe9"),
    ("strip removes spaces and full-width spaces", STRIP, b" a " + FW + K + FW, b"", b"a" + K, b""),
    ("strip halves runs of breaks, rounding up", STRIP,
     K + b"\n" + K + b"\n\n" + K + b"\n\n\n" + K + b"\n\n\n\n" + K + b"\n\n\n\n\n" + K, b"",
     K + b"\n" + K + b"\n" + K + b"\n\n" + K + b"\n\n" + K + b"\n\n\n" + K, b""),
    ("strip: a removed space or full-width space ends a run", STRIP, b"\n \n" + K + b"\n" + FW + b"\n", b"",
     b"\n\n" + K + b"\n\n", b""),
    ("strip: a run after an even run starts afresh", STRIP, b"\n\nx\n\n", b"", b"\nx\n", b""),
    ("strip keeps a break between two-byte characters", STRIP, K + b"\n" + K, b"", K + b"\n" + K, b""),
    ("block 0x1d index 0 is stripped", (0x1D, 0), b" \n\n", b"", b"\n", b""),
    ("block 0x1d index 1 is joined", (0x1D, 1), b" " + K + b"\n" + K, b"", b" " + K + K, b""),
    ("block 0x1c index 5 is joined", (0x1C, 5), b" \n\n", b"", b" \n\n", b""),
    ("block 0x1c index 15 is stripped", (0x1C, 15), b" \n\n", b"", b"\n", b""),
    ("block 0x1b index 6 is joined", (0x1B, 6), b" \n\n", b"", b" \n\n", b""),
]


class ReflowTest(unittest.TestCase):
    def test_cases(self):
        for name, (block, index), head, tail, want_head, want_tail in REFLOW_CASES:
            with self.subTest(name):
                self.assertEqual(reflow_100(block, index, head, tail), (want_head, want_tail))

    def test_99_bytes_with_the_nul_are_left_alone(self):
        for block, index in (JOIN, STRIP):
            head = K + b"\n" + K + b" \n\n"
            text = head + b"." * (98 - len(head)) + b"\0"
            self.assertEqual(len(text), 99)
            self.assertEqual(gen.rearrange(text, block, index), text)


class ConversionTest(unittest.TestCase):
    def test_units(self):
        units = [0x41, 0xE9, 0x00, 0xD7, 0x3042, 0x3000, 0x0391, 0xD83C, 0xDF38, 0x4E02, 0xFF71, 0x0100]
        text, unmapped = gen.to_shift_jis(units)
        self.assertEqual(text, b"A" + gen.GETA + b"\x00\x81\x7e\x82\xa0\x81\x40\x83\x9f" + gen.GETA * 5)
        self.assertEqual(unmapped, 6)

    def test_refuses_characters_that_converters_disagree_on(self):
        for u in (0xFF5E, 0x301C, 0x2212, 0xFFE5):
            with self.assertRaises(gen.SampleError):
                gen.to_shift_jis([u])


def euc_to_sjis(c, d):
    s = (c - 0xA1) // 2 + 0x81
    s += 0x40 if s > 0x9F else 0
    t = d - 0xA1 + (0x40 if c & 1 else 0x9E)
    t += 1 if t > 0x7E else 0
    return bytes([s & 0xFF, t & 0xFF])


class SampleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(gen.DEFAULT_DLL, "rb") as f:
            cls.dll = f.read()
        cls.chunks = list(gen.chunks(cls.dll))

    def test_committed_files_are_up_to_date(self):
        with tempfile.TemporaryDirectory() as tmp:
            gen.write_expected(gen.DEFAULT_DLL, tmp)
            names = sorted(os.listdir(tmp))
            self.assertEqual(names, sorted(os.listdir(gen.DEFAULT_OUT)))
            _, mismatch, errors = filecmp.cmpfiles(tmp, gen.DEFAULT_OUT, names, shallow=False)
            self.assertEqual(mismatch + errors, [])

    def test_sample_exercises_the_reflow(self):
        by_name = {c[0]: c for c in self.chunks}
        sizes = {}
        for name, _, _, _, _ in self.chunks:
            block, index = int(name[:name.index("_")], 16), int(name[-6:-4])
            units = gen.block_strings(gen.string_blocks(self.dll)[block])[index]
            sizes[name] = len(gen.to_shift_jis(units)[0]) + 1
        strip = ["0x1d_00.txt"] + ["0x1c_%02d.txt" % i for i in range(6, 16)]
        self.assertTrue(all(n in by_name for n in strip))
        self.assertTrue(any(sizes[n] == 99 for n in strip) and any(sizes[n] == 100 for n in strip))
        join = [n for n in sizes if n not in strip]
        self.assertTrue(any(sizes[n] == 99 for n in join) and any(sizes[n] == 100 for n in join))
        self.assertEqual([c[0] for c in self.chunks if c[3]], ["0x12_04.txt", "0x12_07.txt", "0x15_07.txt"])
        self.assertTrue(300 <= len(self.chunks) <= 450)

    def test_font_file_agrees_with_the_codec(self):
        font_path = os.path.join(gen.ROOT, "examples", "font.bin")
        if not os.path.exists(font_path):
            self.skipTest("examples/font.bin is not there")
        with open(font_path, "rb") as f:
            font = f.read()
        used = set()
        for block in gen.string_blocks(self.dll).values():
            for units in gen.block_strings(block):
                used.update(u for u in units if u > 0xFF)
        for u in sorted(used):
            k = 2 * (u - 0x391)
            entry = font[k:k + 2] if u >= 0x391 and k + 2 <= len(font) else b"\0\0"
            want = gen.GETA if entry[0] == 0 else euc_to_sjis(entry[0], entry[1])
            with self.subTest("U+%04X" % u):
                self.assertEqual(gen.to_shift_jis([u])[0], want)


if __name__ == "__main__":
    unittest.main()
