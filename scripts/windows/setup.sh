#!/bin/bash
# Prepares this Debian machine for the Windows build: the mingw-w64 cross compiler, Wine
# to run what it builds and GoogleTest's sources for the unit tests, then a private
# headless Wine prefix. Safe to run again: installed packages and an existing prefix
# are kept.
#   WINEPREFIX  where the prefix lives (default /tmp/tolmail-wine/prefix)
set -euo pipefail
source "$(dirname "$0")/env.sh"

packages=(g++-mingw-w64-x86-64-win32 mingw-w64-tools wine64 wine libwine-dev googletest)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    as_root=()
    [[ $(id -u) == 0 ]] || as_root=(sudo)
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    # The win32 thread flavour only: the posix one the meta-package pulls is not needed.
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 wine wineboot --init
    timeout 120 wineserver -w
    # With no display, top-level windows need the null graphics driver; the registry change
    # takes effect once the wineserver has been restarted.
    timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    timeout 60 wineserver -w
fi
echo "prefix ready: $WINEPREFIX"
