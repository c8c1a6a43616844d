#!/usr/bin/env bash
# The packaging tier: builds the Debian package from BUILD_DIR with CPack and checks it
# and the desktop integration files with Debian's own tools.
#   tests/packaging/run.sh BUILD_DIR
# Needs desktop-file-utils, appstream, lintian, librsvg2-bin and man-db
# (tests/support/deps.sh installs them). Exits non-zero when a check fails.
set -uo pipefail

if (($# != 1)); then
  echo "usage: tests/packaging/run.sh BUILD_DIR" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -e "$1") || exit 2
packaging=$top/packaging

failures=0
pass() { printf 'ok   %s\n' "$1"; }
fail() {
  printf 'FAIL %s\n' "$1"
  [[ -n ${2:-} ]] && printf '%s\n' "$2" | sed 's/^/     /'
  failures=$((failures + 1))
}

work=$(mktemp -d /tmp/quorlen-packaging.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# ---- The package ------------------------------------------------------------------------
# Refreshes the configuration first, so a build folder made before the packaging rules
# existed still gets them.
if ! out=$(cmake "$build" 2>&1 && cpack --config "$build/CPackConfig.cmake" -B "$work/out" 2>&1); then
  fail "cpack builds the package" "$out"
  exit 1
fi
debs=("$work"/out/quorlen-safe_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
  fail "cpack builds exactly one package" "$(ls "$work/out")"
  exit 1
fi
deb=${debs[0]}
pass "cpack builds $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"

# Every file the program and its desktop integration need, with the mode the self-check
# and Debian expect; all owned by root, and nothing else in the package.
expected=$(
  cat <<'EOF'
-rwxr-xr-x root/root ./usr/bin/quorlen-safe
-rw-r--r-- root/root ./usr/lib/quorlen-safe/libquorlen-window.so
-rw-r--r-- root/root ./usr/share/applications/com.quorlen.safe.desktop
-rw-r--r-- root/root ./usr/share/doc/quorlen-safe/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/quorlen-safe/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/com.quorlen.safe.svg
-rw-r--r-- root/root ./usr/share/man/man1/quorlen-safe.1.gz
-rw-r--r-- root/root ./usr/share/metainfo/com.quorlen.safe.metainfo.xml
-rw-r--r-- root/root ./usr/share/polkit-1/actions/com.quorlen.safe.policy
EOF
)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | LC_ALL=C sort -k3)
if [[ $files == "$expected" ]]; then
  pass "package holds the expected files, root-owned, modes 755/644"
else
  fail "package holds the expected files, root-owned, modes 755/644" \
    "$(diff <(echo "$expected") <(echo "$files"))"
fi
odd_dirs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root")')
if [[ -z $odd_dirs ]]; then
  pass "every folder is root-owned with mode 755"
else
  fail "every folder is root-owned with mode 755" "$odd_dirs"
fi

# dpkg-shlibdeps found the libraries (from both the program and the windowed module), and
# the parts loaded at run time that no link names are declared.
depends=$(dpkg-deb -f "$deb" Depends)
missing=()
for want in qt6-qpa-plugins polkitd libqt6widgets6 libglib2.0-0 libicu72 libc6; do
  [[ ", $depends," == *", $want"[\ ,]* ]] || missing+=("$want")
done
if ((${#missing[@]} == 0)); then
  pass "Depends declares the run-time needs"
else
  fail "Depends declares the run-time needs" "missing: ${missing[*]}; Depends: $depends"
fi

# ---- Desktop entry, metainfo, icon, man page ----------------------------------------------
desktop=$work/root/usr/share/applications/com.quorlen.safe.desktop
if out=$(desktop-file-validate "$desktop" 2>&1) && ! grep -qE ': (error|warning):' <<<"$out"; then
  pass "desktop-file-validate"
  # Hints are advice, shown but not failures.
  [[ -n $out ]] && sed 's/^/     /' <<<"$out"
else
  fail "desktop-file-validate" "$out"
fi

if out=$(appstreamcli validate --pedantic --no-net --no-color \
  "$work/root/usr/share/metainfo/com.quorlen.safe.metainfo.xml" 2>&1); then
  pass "appstreamcli validate --pedantic"
else
  fail "appstreamcli validate --pedantic" "$out"
fi
# The installed tree as a software centre reads it: the metainfo, its desktop entry and icon.
if out=$(appstreamcli validate-tree --pedantic --no-net --no-color "$work/root" 2>&1); then
  pass "appstreamcli validate-tree --pedantic"
else
  fail "appstreamcli validate-tree --pedantic" "$out"
fi

icon=$work/root/usr/share/icons/hicolor/scalable/apps/com.quorlen.safe.svg
if out=$(rsvg-convert -w 64 -h 64 "$icon" -o "$work/icon.png" 2>&1) && [[ -s $work/icon.png ]]; then
  pass "icon renders"
else
  fail "icon renders" "$out"
fi

page=$work/root/usr/share/man/man1/quorlen-safe.1.gz
if out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) && [[ -z $out ]]; then
  pass "man page renders without warnings"
else
  fail "man page renders without warnings" "$out"
fi
# The page documents both probes' exact lines and every exit status.
rendered=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
absent=()
for want in '{"available":true}' '{"available":false}' '{"signed":true}' '{"signed":false}' \
  'com.quorlen.safe.v1' '64 ' '70 '; do
  grep -qF -- "$want" <<<"$rendered" || absent+=("$want")
done
if ((${#absent[@]} == 0)); then
  pass "man page names both probes' lines, the store and the exit statuses"
else
  fail "man page names both probes' lines, the store and the exit statuses" "absent: ${absent[*]}"
fi

# ---- lintian --------------------------------------------------------------------------------
# Suppressed, with the reason:
# - maintscript-calls-ldconfig: CPack writes a postinst and postrm calling ldconfig for any
#   shared object under /usr/lib, here the private module in /usr/lib/quorlen-safe that the
#   program loads by path. The call is harmless and CPack has no setting to leave it out.
suppressed=maintscript-calls-ldconfig
lint=(lintian --pedantic --display-info --suppress-tags "$suppressed" "$deb")
# lintian needs no privileges; as root, it runs as nobody.
if [[ $(id -u) -eq 0 ]]; then
  install -d -o nobody "$work/lintian"
  lint=(runuser -u nobody -- env HOME="$work/lintian" TMPDIR="$work/lintian" "${lint[@]}")
  chmod 755 "$work/out"
  chmod 644 "$deb"
fi
out=$("${lint[@]}" 2>&1)
rc=$?
errors=$(grep -E '^E: ' <<<"$out")
if ((rc == 0)) && [[ -z $errors ]]; then
  pass "lintian: no errors"
else
  fail "lintian: no errors" "$out"
fi
other=$(grep -E '^[WIPX]: ' <<<"$out")
if [[ -n $other ]]; then
  echo "     lintian warnings and remarks:"
  sed 's/^/       /' <<<"$other"
fi

echo
if ((failures)); then
  echo "packaging: $failures check(s) failed"
  exit 1
fi
echo "packaging: all checks passed"
