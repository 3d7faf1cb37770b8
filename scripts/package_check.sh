#!/usr/bin/env bash
# The Debian package as a data centre would use it: builds it (scripts/package.sh, lintian
# included), installs it with apt-get, then uses the installed programs with installed files
# only: the help text; a SQLite store made from the packaged schema and odbc.ini example; a
# conversion whose settings come from /etc/tarnvel.ini alone and is checked row by row and file
# by file; a tarnvel.ini in the current folder taking the place of /etc/tarnvel.ini; a CSS
# conversion; the dialog program started offscreen. Removes the package and /etc/tarnvel.ini
# again at the end, also after a failure. As root; called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 TZ=UTC
unset ODBCSYSINI ODBCINI QOR WINDIR TARNVEL_PASSWORD

# The check installs and removes its own package and writes /etc/tarnvel.ini: never on a
# machine where either is already in use.
if dpkg-query -W -f='${Status}' tarnvel 2>/dev/null | grep -q 'install ok installed'; then
  echo "tarnvel is installed on this machine; the package check would remove it" \
    "(apt-get remove tarnvel first, where that is intended)" >&2
  exit 1
fi
if [ -e /etc/tarnvel.ini ]; then
  echo "/etc/tarnvel.ini exists on this machine; the package check would replace it" \
    "(move it away first, where that is intended)" >&2
  exit 1
fi

bash scripts/package.sh

work=$(mktemp -d /tmp/tarnvel-package-check.XXXXXX)
cleanup() {
  rm -f /etc/tarnvel.ini
  if dpkg-query -W -f='${Status}' tarnvel 2>/dev/null | grep -q 'install ok installed'; then
    apt-get remove -y -qq -o DPkg::Lock::Timeout=300 tarnvel >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}
contains() { [[ $1 == *"$2"* ]]; }
ends_with() { [[ $1 == *"$2" ]]; }

echo "== apt-get install ./tarnvel_*.deb =="
apt-get install -y -qq -o DPkg::Lock::Timeout=300 ./tarnvel_*.deb >/dev/null

doc=/usr/share/doc/tarnvel
examples=$doc/examples
for file in /usr/bin/tarnvel /usr/bin/tarnvel-check /usr/bin/Tarnvel_GUI \
  /usr/share/man/man1/tarnvel.1.gz /usr/share/man/man1/tarnvel-check.1.gz \
  /usr/share/man/man1/Tarnvel_GUI.1.gz \
  /usr/share/applications/tarnvel.desktop /usr/share/icons/hicolor/48x48/apps/tarnvel.png \
  $doc/README.md $doc/copyright $doc/changelog.gz \
  $examples/tarnvel.ini $examples/qor.ini $examples/odbc.ini \
  $examples/qor_sqlite.sql $examples/qor_postgres.sql $examples/filelist_without_tend.sql; do
  check "$file belongs to the package" test "$(dpkg-query -S "$file" 2>/dev/null)" = "tarnvel: $file"
done
depends=$(dpkg-query -W -f='${Depends}' tarnvel)
for library in libodbc2 libqt6widgets6 qt6-qpa-plugins; do
  check "Depends names $library" contains "$depends" "$library"
done
check "Depends holds no build-only package ($depends)" \
  bash -c '! grep -Eq -- "-dev\b|build-essential|cmake|lintian" <<<"$1"' _ "$depends"
check "Recommends an ODBC driver" \
  test "$(dpkg-query -W -f='${Recommends}' tarnvel)" = "libsqliteodbc | odbc-postgresql"
check "the manual pages render without warnings" \
  bash -c 'man --warnings -E UTF-8 -l -Tutf8 -Z /usr/share/man/man1/tarnvel.1.gz \
    /usr/share/man/man1/tarnvel-check.1.gz /usr/share/man/man1/Tarnvel_GUI.1.gz 2>&1 >/dev/null |
    (! grep .)'

echo "== installed tarnvel: help =="
help=$(tarnvel "/?" </dev/null)
check "help ends with status 0 and names every option" \
  bash -c 'for w in "Описание:" "CSS=" "BEG=" "END=" "QTY=" "ODBC=" "USER=" "PASSWORD=" "DATA=" \
    "-i=size_MB" "STA:CH:LC" "-3  => "; do [[ $1 == *"$w"* ]] || exit 1; done' _ "$help"

echo "== installed tarnvel: conversion into a new SQLite store, settings from /etc/tarnvel.ini =="
store=$work/store
mkdir -p "$store/data" "$work/run" "$work/local" "$work/css"
sqlite3 "$store/qor.db" <"$examples/qor_sqlite.sql"
sed "s|^Database=/srv/qor/qor.db\$|Database=$store/qor.db|" "$examples/odbc.ini" >"$work/odbc.ini"
check "the odbc.ini example names the SQLite database" grep -qx "Database=$store/qor.db" "$work/odbc.ini"
export ODBCINI=$work/odbc.ini
sed "s|^DIR=/srv/qor/data\$|DIR=$store/data|" "$examples/tarnvel.ini" >/etc/tarnvel.ini
check "the tarnvel.ini example names the data directory" grep -qx "DIR=$store/data" /etc/tarnvel.ini
seed=$work/run/2005-07-23-1452-04S.CER___030.mseed
cp tests/data/2005-07-23-1452-04S.CER___030.mseed "$seed"

# Started by its name through PATH from a folder without tarnvel.ini: /etc/tarnvel.ini applies.
listing=$(cd "$work/run" && tarnvel "$(basename "$seed")" -i)
check "information mode lists the file's three channels" \
  test "$(grep -c '^CER::BH[ZNE]::00 1122130324.00 - 1122130395.00 150$' <<<"$listing")" = 3
status=0
output=$(cd "$work/run" && tarnvel "$(basename "$seed")") || status=$?
check "the conversion ends with status 0 ($status): $output" test "$status" = 0
check "the conversion writes to the database" contains "$output" $'\rWriting to database - 100%'
check "the conversion ends with what it stored" ends_with "$output" \
  "Stored 31950 samples in 3 files (3 new, 0 continued, 0 rewritten), 0 samples were stored already"
rows=$(sqlite3 -separator ' ' "$store/qor.db" \
  "select STA, CH, LCODE, CREATER, FOFF, CPATH, cast(round(FOFF + TQTY * SPS * 4) as integer)
   from FILELIST order by CH")
check "FILELIST holds one row per channel" test "$(wc -l <<<"$rows")" = 3
while read -r sta ch lcode creater foff cpath size; do
  file=$store/data/$cpath
  check "$cpath: CER, tarnvel, offset 512, relative path" \
    test "$sta $lcode $creater $foff ${cpath:0:4}" = "CER 00 tarnvel 512 CER/"
  check "$cpath lies under the data directory and holds its row's $size bytes" \
    test "$(stat -c %s "$file" 2>/dev/null)" = "$size"
  check "$cpath starts with its header" \
    test "$(head -c 40 "$file" | tr -d '\r' | head -n 2 | tr '\n' ' ')" = "[QOR5.x] Data offset=512 "
  check "$cpath header names channel $ch" grep -aq "Channel=$ch" "$file"
done <<<"$rows"

echo "== installed tarnvel-check: the store just written, settings from /etc/tarnvel.ini =="
status=0
output=$(cd "$work/run" && tarnvel-check) || status=$?
check "the store checks clean (status $status): $output" \
  test "$status $output" = "0 Checked 3 rows, 3 files, 129336 bytes: no problems"
first=$(head -n 1 <<<"$rows" | awk '{ print $6 }')
truncate -s 20000 "$store/data/$first"
status=0
output=$(cd "$work/run" && tarnvel-check) || status=$?
check "a file cut short is found (status $status): $output" \
  test "$status $(head -n 1 <<<"$output")" = \
  "1 shorter $(awk '{ print $1 "::" $2 "::" $3 }' <<<"$(head -n 1 <<<"$rows")") $store/data/$first: 20000 bytes, its row registers 43112"
status=0
output=$(cd "$work/run" && tarnvel-check --repair) || status=$?
check "--repair sets its row to what it holds (status $status): $output" \
  test "$status $(tail -n 1 <<<"$output")" = \
  "0 Checked 3 rows, 3 files, 106224 bytes: no problems, 1 repaired (1 shorter)"

echo "== installed tarnvel: a tarnvel.ini in the current folder takes the place of /etc/tarnvel.ini =="
printf '[DATABASE]\nODBC=TARNVEL_NO_SUCH_SOURCE\n' >"$work/local/tarnvel.ini"
status=0
output=$(cd "$work/local" && tarnvel "$seed") || status=$?
check "the local tarnvel.ini decides: status 255 ($status)" test "$status" = 255
check "the local tarnvel.ini decides: $output" \
  test "$output" = "Connection error (ODBC: TARNVEL_NO_SUCH_SOURCE, USER: QOR)"

echo "== installed tarnvel: CSS conversion, settings on the command line =="
rm /etc/tarnvel.ini
status=0
output=$(cd "$work/run" && /usr/bin/tarnvel "$seed" ODBC=QOR "DATA=$store/data" "CSS=$work/css") ||
  status=$?
check "the CSS conversion ends with status 0 ($status): $output" test "$status" = 0
wfdisc=$work/css/$(basename "$seed").wfdisc
check "the wfdisc file holds three lines" test "$(wc -l <"$wfdisc" 2>/dev/null)" = 3
for ch in BHZ BHN BHE; do
  w=$work/css/20050723145204-CER-${ch}00.w
  check "$w holds 10650 samples" test "$(stat -c %s "$w" 2>/dev/null)" = 42600
done

echo "== installed Tarnvel_GUI offscreen =="
check "Tarnvel_GUI finds every library" bash -c '! ldd /usr/bin/Tarnvel_GUI | grep -q "not found"'
# It opens its file chooser at once and waits there: still running after five seconds.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/Tarnvel_GUI >"$work/gui.log" 2>&1 || status=$?
check "Tarnvel_GUI runs until it is stopped (status $status): $(cat "$work/gui.log")" test "$status" = 124

echo "== apt-get remove tarnvel =="
apt-get remove -y -qq -o DPkg::Lock::Timeout=300 tarnvel >/dev/null
check "the package is removed" \
  bash -c '! dpkg-query -W -f="\${Status}" tarnvel 2>/dev/null | grep -q "install ok installed"'
check "its programs are gone" bash -c '! test -e /usr/bin/tarnvel && ! test -e /usr/bin/Tarnvel_GUI'

echo "package check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
