#!/usr/bin/env bash
# Builds the Debian package tarnvel_<version>_<architecture>.deb into the project folder:
# installs what the build needs (as root), builds a Release tree with Debian's hardening flags,
# runs CPack (its dependencies found by dpkg-shlibdeps) and checks the package with lintian,
# which must report no error. Install it with: apt-get install ./tarnvel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-package

bash scripts/install_packages.sh package

# Stack protector, fortified functions, format checks, read-only relocations bound at start.
# The package is stripped, so no debug information is compiled; Release's -O3 comes last.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=$(echo "$cxxflags" | sed -E 's/(^| )-g( |$)/ /')
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNVEL_PACKAGE=ON \
  -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$build/cpack"
cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >/dev/null
debs=("$build"/cpack/tarnvel_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "CPack made no single package: ${debs[*]}" >&2
  exit 1
fi
rm -f "$root"/tarnvel_*.deb
cp "${debs[0]}" "$root/"
deb=$root/$(basename "${debs[0]}")

echo "== lintian $(basename "$deb") =="
lintian --fail-on error "$deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Suggests
echo "$deb"
