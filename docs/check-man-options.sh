#!/usr/bin/env bash
# Fails when an option that `tolmail <command> --help` lists is missing from the man
# page, so that a new option cannot ship undocumented.
#
#   docs/check-man-options.sh TOLMAIL_BINARY MAN_PAGE
set -euo pipefail
tolmail=$1
page=$2

status=0
for command in send fetch; do
  options=$("$tolmail" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  for option in $options; do
    # The page writes each hyphen as \- ; --from must not pass for --from-name.
    if ! grep -qP -- "\\Q${option//-/\\-}\\E(?![a-z]|\\\\-)" "$page"; then
      echo "tolmail $command $option: not in $page" >&2
      status=1
    fi
  done
done
exit $status
