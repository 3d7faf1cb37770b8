#!/usr/bin/env bash
# Installs the Debian packages tarnvel needs to build, run and test. Safe to run again.
#   scripts/install_packages.sh          everything (build, tests, benchmarks, dialog program,
#                                        the Debian package and its check)
#   scripts/install_packages.sh package  only what scripts/package.sh needs to build the package
set -euo pipefail

build=(
  build-essential cmake ninja-build pkg-config
  unixodbc-dev qt6-base-dev qt6-qpa-plugins
)
package=(lintian)
run_and_test=(
  unixodbc libsqliteodbc sqlite3
  odbc-postgresql postgresql-15
  libgtest-dev libgmock-dev libbenchmark-dev libmseed-dev
  qt6-translations-l10n fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  procps tzdata jq
)

case "${1:-all}" in
  all) packages=("${build[@]}" "${package[@]}" "${run_and_test[@]}") ;;
  package) packages=("${build[@]}" "${package[@]}") ;;
  *)
    echo "usage: $0 [package]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "All needed packages are installed."
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]} (run this script as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
