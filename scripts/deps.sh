#!/usr/bin/env bash
# Installs the Debian packages the suite builds, runs and tests with, in one idempotent
# apt-get call. Nothing is done when every package is present already.
set -euo pipefail

PACKAGES=(
  # tool chain
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # libraries
  libssl-dev libsqlite3-dev sqlite3 libshp-dev libgif-dev libcairo2-dev zlib1g-dev
  libmagick++-6.q16-dev
  # the service's shared store (libpq), and the PostgreSQL server its tests start
  libpq-dev postgresql
  # the service's web site, and the browser its tests drive
  libcpp-httplib-dev chromium chromium-driver
  # the Flash engine: AGG's compound rasterizer, bitmap codecs, fonts for device text
  libagg-dev libjpeg-dev libpng-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
  # an SWF parser independent of the engine, for its tests
  python3-yaswfp
  qt6-base-dev qt6-translations-l10n libgl-dev fonts-wqy-microhei
  # real peers the tests start on loopback
  dante-server microsocks tinyproxy dnsmasq dnsutils midicsv
  # the SMS gateway the service hands short messages to (fakesmsc is in kannel-extras)
  kannel kannel-extras
  # the music module plays its ringtones through aplay
  alsa-utils
  python3 python3-dbfread python3-dbf iproute2 procps xvfb xauth
  # outside GIF readers that check the animation module's output
  gifsicle giflib-tools python3-pil
  # the main program's tests: a notification area under Xvfb, clicks on it, the desktop's tools
  trayer
  xdotool
  desktop-file-utils
  shared-mime-info
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The proxies and the DNS server are only ever started by the tests, on loopback. Make sure the
# package scripts do not start system-wide daemons while installing.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | as_root tee /usr/sbin/policy-rc.d >/dev/null
  as_root chmod +x /usr/sbin/policy-rc.d
fi

echo "Installing: ${missing[*]}"
# A fresh machine has no package lists yet.
if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial)" ] ||
   ! apt-cache show "${missing[0]}" >/dev/null 2>&1; then
  as_root apt-get -o DPkg::Lock::Timeout=600 update
fi
as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
