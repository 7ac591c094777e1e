#!/usr/bin/env bash
# Builds the sample message libraries from messages.rc with the LLVM tools:
# messages_x86.dll and messages_x64.dll, resource-only libraries whose
# optional headers differ in size. The built files are committed, so the
# tests and other systems do not need the tools; run this again after
# editing messages.rc.
#
# llvm-rc 14 does not honour "#pragma code_page" after preprocessing, so the
# code page is also given on its command line.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

llvm-rc /C 65001 /FO "$work/messages.res" messages.rc
for machine in x86 x64; do
  lld-link /dll /noentry /machine:$machine /brepro \
    /out:messages_$machine.dll /implib:"$work/messages_$machine.lib" "$work/messages.res"
done
