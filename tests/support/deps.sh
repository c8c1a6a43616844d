#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libglib2.0-dev libicu-dev
  libgtest-dev googletest libpolkit-agent-1-dev libpolkit-gobject-1-dev libsecret-1-dev
  libgcrypt20-dev
  clang libclang-rt-14-dev  # sanitizer and fuzzing builds
  # services the tests start
  dbus-daemon dbus-bin libglib2.0-bin polkitd gnome-keyring libsecret-tools xvfb xauth at-spi2-core
  # clients the tests drive the program with
  xclip xdotool x11-utils python3 python3-pyatspi python3-dbus python3-gi python3-xlib imagemagick
  # the Wayland test bed
  mutter xwayland wl-clipboard qt6-wayland
  # the package and its checks
  file dpkg-dev desktop-file-utils appstream lintian librsvg2-bin man-db
  # the trace and memory-image checks (tests/e2e/privileged.py)
  strace gdb
  # for the benchmarks
  hyperfine
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
