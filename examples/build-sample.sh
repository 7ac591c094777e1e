#!/usr/bin/env bash
# Rebuilds the sample message library examples/rumomsg.dll from
# examples/rumomsg.rc (a resource-only 64-bit DLL), then the expected chunk
# texts in tests/data/sample_expected/ that the end-to-end test of cutter
# compares against. Needs llvm-rc and lld-link (Debian packages llvm and lld)
# and python3. The DLL is committed, so running cutter needs none of them.
set -euo pipefail
cd "$(dirname "$0")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# llvm-rc 14 does not act on "#pragma code_page(65001)" in the source: without
# /C 65001 it refuses every non-ASCII character, so the code page is given here.
llvm-rc /C 65001 /FO "$work/rumomsg.res" rumomsg.rc
# /Brepro: no time stamp in the headers, so the same source gives the same bytes.
# The import library that lld-link always writes goes to the scratch folder.
lld-link /dll /noentry /machine:x64 /Brepro \
  /out:rumomsg.dll /implib:"$work/rumomsg.lib" "$work/rumomsg.res"

echo "examples/rumomsg.dll: $(wc -c <rumomsg.dll) bytes," \
  "$(llvm-readobj --coff-resources rumomsg.dll | grep -c 'Language: (ID 1041)') string blocks"

python3 ../tests/data/make_sample_expected.py rumomsg.dll ../tests/data/sample_expected
