#!/bin/sh
# Runs a 64-bit Windows program of a MinGW build under wine64: CMake's
# cross-compiling emulator for the mingw-x64 build (test discovery and
# ctest). The build gets a Wine prefix of its own, made on first use, and
# the framework's and modules' DLLs are put on the program's DLL path.
set -e
program=$1
dir=$(cd "$(dirname "$program")" && pwd)
build=$dir
while [ ! -f "$build/CMakeCache.txt" ]; do
  [ "$build" = / ] && { echo "wine_run.sh: $program is not in a CMake build" >&2; exit 2; }
  build=$(dirname "$build")
done

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
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
