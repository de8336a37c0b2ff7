#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what was installed, then
# builds the C host in host/ against the installed files twice, through
# pkg-config and through find_package, and runs both.
# Arguments: build folder, library folder and header folder (relative to the
# prefix), C compiler, compiler flags the library was built with (sanitizers).
set -euo pipefail
build="$1" libdir="$2" includedir="$3" cc="$4" flags="${5:-}"
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/qv-install.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"

step() { echo "== $*"; }
run_logged() {
  local log="$tmp/step.log"
  "$@" >"$log" 2>&1 || { cat "$log"; echo "FAILED: $*"; exit 1; }
}

step "install into $prefix"
run_logged cmake --install "$build" --prefix "$prefix"

# Exactly the library, its links, the header and the two package descriptions
# (the export's per-configuration file is named after the build type).
expected="$(printf '%s\n' \
  "$includedir/quorvalen_dsp.h" \
  "$libdir/cmake/quorvalen_dsp/quorvalen_dspConfig.cmake" \
  "$libdir/cmake/quorvalen_dsp/quorvalen_dspConfigVersion.cmake" \
  "$libdir/cmake/quorvalen_dsp/quorvalen_dspTargets-CONFIG.cmake" \
  "$libdir/cmake/quorvalen_dsp/quorvalen_dspTargets.cmake" \
  "$libdir/libquorvalen_dsp.so" \
  "$libdir/libquorvalen_dsp.so.0" \
  "$libdir/libquorvalen_dsp.so.0.1.0" \
  "$libdir/pkgconfig/quorvalen_dsp.pc" | sort)"
installed="$(cd "$prefix" && find . -type f -o -type l | sed -e 's|^\./||' -e 's|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' | sort)"
if [ "$installed" != "$expected" ]; then
  echo "installed files differ from the expected ones (< expected, > installed):"
  diff <(echo "$expected") <(echo "$installed") || true
  exit 1
fi
[ "$(readlink "$prefix/$libdir/libquorvalen_dsp.so")" = libquorvalen_dsp.so.0 ] || { echo "bad development link"; exit 1; }
[ "$(readlink "$prefix/$libdir/libquorvalen_dsp.so.0")" = libquorvalen_dsp.so.0.1.0 ] || { echo "bad soname link"; exit 1; }
soname="$(objdump -p "$prefix/$libdir/libquorvalen_dsp.so.0.1.0" | awk '$1 == "SONAME" { print $2 }')"
[ "$soname" = libquorvalen_dsp.so.0 ] || { echo "soname is '$soname'"; exit 1; }
if objdump -p "$prefix/$libdir/libquorvalen_dsp.so.0.1.0" | grep -qE '^ *(RPATH|RUNPATH)'; then
  echo "the installed library keeps a build-tree run path"; exit 1
fi

step "host through pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
pc_flags="$(pkg-config --cflags --libs quorvalen_dsp)"
pc_libdir="$(pkg-config --variable=libdir quorvalen_dsp)"
[ "$pc_libdir" = "$prefix/$libdir" ] || { echo "pkg-config libdir is '$pc_libdir'"; exit 1; }
# shellcheck disable=SC2086 # the flags are words
run_logged "$cc" $flags "$here/host/host.c" -o "$tmp/host-pkgconfig" $pc_flags -lm
LD_LIBRARY_PATH="$pc_libdir" "$tmp/host-pkgconfig"

step "host through find_package"
run_logged cmake -S "$here/host" -B "$tmp/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
grep -qx "quorvalen_dsp_DIR:PATH=$prefix/$libdir/cmake/quorvalen_dsp" "$tmp/host-cmake/CMakeCache.txt" \
  || { echo "find_package did not take the installed package"; exit 1; }
run_logged cmake --build "$tmp/host-cmake"
"$tmp/host-cmake/host"
