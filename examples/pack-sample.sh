#!/bin/sh
# Builds crate and packs the sample inputs of this folder into
# build/sample/sample.pdb through the file list sample.list, then shows the
# archive's size and every record: its offset, unique ID and length.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/sample"

cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPALMPORT_TESTS=OFF >/dev/null
cmake --build "$out" --target crate -j2 >/dev/null

cd "$root/examples"
"$out/arc/crate" -f sample.list "$out/sample.pdb"

pdb="$out/sample.pdb"
echo
ls -l "$pdb"
# Big-endian unsigned number of $2 bytes at offset $1.
field() { od -A n -t u1 -j "$1" -N "$2" "$pdb" | awk '{ for (i = 1; i <= NF; i++) v = v * 256 + $i } END { print v + 0 }'; }
count=$(field 76 2)
size=$(wc -c <"$pdb")
echo "records: $count (the size record, then one per file)"
k=0
while [ "$k" -lt "$count" ]; do
  offset=$(field $((78 + 8 * k)) 4)
  id=$(field $((78 + 8 * k + 5)) 3)
  if [ $((k + 1)) -lt "$count" ]; then next=$(field $((78 + 8 * (k + 1))) 4); else next=$size; fi
  echo "  record $k: offset $offset, unique ID $id, $((next - offset)) bytes"
  k=$((k + 1))
done
echo "header, record list, delimiter and size record:"
od -A d -t x1z -N $((88 + 10 * (count - 1))) "$pdb"
