#!/bin/sh
# Checks that a built Corvia exports exactly its documented functions, with plain C
# names, and depends on nothing but the C library. In a sanitizer build
# (scripts/test --sanitize) the compiler adds the sanitizer runtimes (libasan,
# libubsan, ...) to the dependencies and may define the runtime's own symbols
# (__asan_*, __ubsan_*, __sanitizer_*, __lsan_*): those are left out of both
# lists, nothing else is.
set -eu
lib=$1
sanitizer_symbol='^__(asan|ubsan|sanitizer|lsan|odr_asan)'
sanitizer_library='^lib(asan|ubsan|lsan|tsan)\.so'
expected="CloseIrCom CopyMem OpenIrCom PurgeIrCom ReadIrCom ShowErrorMessage WriteIrCom corvia_set_message_hook vbOpenIrCom vbReadIrCom"
actual=$(nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "D" || $2 == "B" || $2 == "W" {print $3}' |
  grep -Ev "$sanitizer_symbol" | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exports differ"
  echo "  expected: $expected"
  echo "  actual:   $actual"
  exit 1
fi
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | grep -Ev "$sanitizer_library" |
  tr '\n' ' ' | sed 's/ $//')
if [ "$needed" != "libc.so.6" ]; then
  echo "unexpected dependencies: $needed"
  exit 1
fi
echo "exports and dependencies as documented"
