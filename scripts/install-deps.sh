#!/usr/bin/env bash
# Installs the Debian packages that building the library and the tolmail command needs,
# plus any packages named as arguments, skipping what is already there. Safe to run
# again. The test set is in install-test-deps.sh.
#
#   scripts/install-deps.sh [package...]
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config libssl-dev
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *" postfix "* ]]; then
  # The tests and the demo run a private Postfix instance; the system's mail set-up is
  # not wanted.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
