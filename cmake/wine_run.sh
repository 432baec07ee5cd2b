#!/bin/sh
# Runs a Windows program of a MinGW build under Wine: CMake's cross-compiling
# emulator for the mingw-i686 and mingw-x64 builds (test discovery and
# ctest). The program's PE header decides the loader: a PE32 program (32-bit
# x86) runs under Wine's 32-bit loader in a 32-bit prefix, a PE32+ program
# (x86-64) under wine64. Each build gets a Wine prefix of its own, made on
# first use, and the framework's and modules' DLLs are put on the program's
# DLL path.
set -e
program=$1
dir=$(cd "$(dirname "$program")" && pwd)
build=$dir
while [ ! -f "$build/CMakeCache.txt" ]; do
  [ "$build" = / ] && { echo "wine_run.sh: $program is not in a CMake build" >&2; exit 2; }
  build=$(dirname "$build")
done

# The optional header's magic: 0x10b for PE32, 0x20b for PE32+. It follows
# the "PE\0\0" signature (4 bytes) and the file header (20 bytes), at the
# offset that the DOS header keeps at 0x3c.
le_bytes() { od -An -tu1 -j "$2" -N "$3" "$1" | awk '{ for (i = NF; i > 0; i--) v = v * 256 + $i } END { print v + 0 }'; }
header=$(le_bytes "$program" 60 4)
case $(le_bytes "$program" $((header + 24)) 2) in
  267)
    wine=/usr/lib/wine/wine
    export WINEARCH=win32 ;;
  523)
    wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
    export WINEARCH=win64 ;;
  *)
    echo "wine_run.sh: $program is neither a PE32 nor a PE32+ program" >&2
    exit 2 ;;
esac
if [ ! -x "$wine" ]; then
  echo "wine_run.sh: $wine is missing: make deps-windows installs Wine for $WINEARCH programs" >&2
  exit 2
fi
# A kernel may be built or booted without 32-bit x86 support (Linux with
# ia32_emulation=off, as some virtual machines are): Wine's 32-bit loader
# then cannot be executed at all (126, "Exec format error"). The program is
# reported skipped (77), never passed.
if [ "$WINEARCH" = win32 ]; then
  status=0
  "$wine" --version >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 126 ]; then
    echo "wine_run.sh: skipped: this machine's kernel runs no 32-bit x86 programs, so $wine cannot start" >&2
    exit 77
  fi
fi

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
export WINEPATH="$(dos "$build/framework");$(dos "$build/module")"

# Two tests starting at once must not both build the prefix.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$build"
  flock "$build/wine-prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot --init' "$wine" >/dev/null 2>&1
fi
exec "$wine" "$@"
