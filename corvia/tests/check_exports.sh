#!/bin/sh
# Checks that a built Corvia exports exactly its documented functions, with plain C
# names, and depends on nothing but the C library.
set -eu
lib=$1
expected="CloseIrCom CopyMem OpenIrCom PurgeIrCom ReadIrCom ShowErrorMessage WriteIrCom corvia_set_message_hook vbOpenIrCom vbReadIrCom"
actual=$(nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "D" || $2 == "B" || $2 == "W" {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exports differ"
  echo "  expected: $expected"
  echo "  actual:   $actual"
  exit 1
fi
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ' | sed 's/ $//')
if [ "$needed" != "libc.so.6" ]; then
  echo "unexpected dependencies: $needed"
  exit 1
fi
echo "exports and dependencies as documented"
