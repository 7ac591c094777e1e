#!/bin/sh
# The whole job on the bundled samples: builds cutter and crate, runs cutter
# on the sample message library with the sample font file in a fresh folder
# (build/sample/chunks), packs the chunk files and the sample pictures into
# build/sample/sample.pdb with crate, shows the archive's size, its record
# count and a few of its records, and proves with peek that the archive holds
# exactly the library's text (the exit status is 1 when it does not). cutter
# and crate run with --quiet: their warnings and closing lines show, their
# progress lines do not.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/sample"
chunks="$out/chunks"

cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPALMPORT_TESTS=OFF >/dev/null
cmake --build "$out" --target cutter crate peek -j2 >/dev/null

rm -rf "$chunks"
mkdir -p "$chunks"
cd "$chunks"
echo "cutter, in $chunks:"
"$out/cutter/cutter" --quiet "$root/examples/rumomsg.dll" "$root/examples/font.bin"

# The chunk files in the order cutter walks the blocks, then the pictures.
set --
for block in $(seq 7 42); do
  for index in $(seq -w 0 15); do
    name=$(printf '0x%x_%s.txt' "$block" "$index")
    if [ -f "$name" ]; then set -- "$@" "$name"; fi
  done
done
set -- "$@" "$root/examples/CGRUMO.bmp" "$root/examples"/CG[0-9]*.bmp
echo "crate:"
"$out/crate/crate" --quiet "$out/sample.pdb" "$@"
for f in "$@"; do echo "${f##*/}"; done >"$out/packed.txt"

pdb="$out/sample.pdb"
# Big-endian unsigned number of $2 bytes at offset $1.
field() { od -A n -t u1 -j "$1" -N "$2" "$pdb" | awk '{ for (i = 1; i <= NF; i++) v = v * 256 + $i } END { print v + 0 }'; }
count=$(field 76 2)
size=$(wc -c <"$pdb")
echo
echo "crate: $pdb, $size bytes, $count records (the size record, then one per file)"
# Record k: its offset, unique ID and length, and the file it holds.
show() {
  k=$1
  offset=$(field $((78 + 8 * k)) 4)
  id=$(field $((78 + 8 * k + 5)) 3)
  if [ $((k + 1)) -lt "$count" ]; then next=$(field $((78 + 8 * (k + 1))) 4); else next=$size; fi
  if [ "$k" -eq 0 ]; then file="(sizes of the files)"; else file=$(sed -n "${k}p" "$out/packed.txt"); fi
  printf '  record %3d: offset %6d, unique ID %4d, %5d bytes  %s\n' "$k" "$offset" "$id" $((next - offset)) "$file"
}
for k in 0 1 2 3 4 5; do show "$k"; done
echo "  ..."
k=$((count - 4))
while [ "$k" -lt "$count" ]; do show "$k"; k=$((k + 1)); done

echo
cd "$root"
"$out/peek/peek" --verify examples/rumomsg.dll examples/font.bin "$pdb"
