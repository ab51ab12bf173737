#!/usr/bin/env bash
# Builds the suite, starts the local delivery service on loopback and runs the main program.
# Installs what it needs on a fresh Debian machine first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHV_ONLY= >/dev/null
cmake --build build -j "$(nproc)"

suite=build/suite
echo "The suite is laid out in $suite:"
ls "$suite"

service_pid=""
config="$suite/DATA/service.ini"
if [ -x "$suite/handvane-service" ]; then
  # A first run gets a demonstration account so that signing in works at once.
  if [ -z "$("$suite/handvane-service" --config "$config" list-accounts 2>/dev/null)" ]; then
    "$suite/handvane-service" --config "$config" add-account 13800138000 handvane >/dev/null
    echo "Created the demonstration account 13800138000 with password handvane."
  fi
  "$suite/handvane-service" --config "$config" &
  service_pid=$!
  trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true' EXIT
  # It ends at once when it cannot listen (another instance holding the ports, say).
  sleep 0.5
  if kill -0 "$service_pid" 2>/dev/null; then
    echo "handvane-service runs on loopback (pid $service_pid)."
    web_port=$(sed -n '/^\[web\]/,/^\[/s/^Port=\([0-9]*\).*/\1/p' "$config" | head -n 1)
    web_port=${web_port:-17080}
    # The suite's links (新用户注册, 找回密码, 资费说明, ...) open this site.
    export HANDVANE_WEB_BASE="http://127.0.0.1:$web_port/"
    echo "Its web site is $HANDVANE_WEB_BASE; the virtual phones are at ${HANDVANE_WEB_BASE}phone/"
  else
    service_pid=""
    echo "handvane-service did not start (see its message above); signing in will fail."
  fi
else
  echo "handvane-service is not built yet: there is no local delivery service to start."
fi

if [ ! -x "$suite/Handvane" ]; then
  echo "The main program Handvane was not built (see the build output above)."
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Handvane needs a desktop (DISPLAY or WAYLAND_DISPLAY); none is set."
  exit 1
fi
echo "Starting Handvane (sign in as 13800138000 / handvane on its panel)."
"$suite/Handvane" "$@"
