# Shared steps of the project scripts: configure, build, and the wine prefix.
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QB_BUILD="${QB_BUILD:-$QB_ROOT/build}"
QB_JOBS="${QB_JOBS:-2}"
QB_WINE64=/usr/lib/wine/wine64
QB_WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$QB_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

qb_configure_and_build() {
  "$QB_ROOT/scripts/setup-deps"
  if [ ! -f "$QB_BUILD/CMakeCache.txt" ]; then
    cmake -S "$QB_ROOT" -B "$QB_BUILD" -DCMAKE_TOOLCHAIN_FILE="$QB_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  fi
  cmake --build "$QB_BUILD" -j"$QB_JOBS"
}

# Creates the private prefix once, with the null graphics driver (windows work
# without a display), then starts its services with stdio detached so they do
# not hold a later test's output open.
qb_wine_up() {
  if [ ! -f "$WINEPREFIX/.qb-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$QB_WINE64" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$QB_WINESERVER" -w
    "$QB_WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    "$QB_WINESERVER" -w
    touch "$WINEPREFIX/.qb-ready"
  fi
  "$QB_WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

qb_wine_down() {
  "$QB_WINESERVER" -k >/dev/null 2>&1 || true
  "$QB_WINESERVER" -w >/dev/null 2>&1 || true
}
