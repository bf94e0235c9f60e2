#!/usr/bin/env bash
# Runs the shell blocks of the "Try it against korvan-sim" section of docs/operations.md as they
# stand, one after the other in one shell, the way a user pastes them: from a scratch folder
# whose build/ is the build tree under test, stopping at the first command that fails. Then
# checks that the flow got to its end.
#   usage: try-it.sh OPERATIONS_MD BUILD_DIR
set -euo pipefail
doc=$1
build=$2
scratch=$(mktemp -d /tmp/krvn-try-it-XXXXXX)
# A simulator left running by a failed step is this shell's job; mktemp -d in the section
# makes its folder under TMPDIR, inside the scratch folder.
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
ln -s "$build" "$scratch/build"

section=$scratch/section.sh
awk '/^## Try it against korvan-sim$/ { on = 1; next }
     on && /^## / { exit }
     on && /^```sh$/ { block = 1; next }
     block && /^```$/ { block = 0; next }
     block { print }' "$doc" >"$section"
commands=$(grep -c '^korvan-host ' "$section" || true)
if [ "$commands" -lt 14 ]; then
  echo "the section holds $commands korvan-host commands: is its heading or are its blocks renamed?" >&2
  exit 1
fi

cd "$scratch"
unset ZY_SETTINGS_FILE
set -x
# shellcheck disable=SC1090
source "$section"
set +x

# Every command succeeded (set -e); the items must have got to the end of their life cycle.
status=$(korvan-host status)
for item in '1 +/dev/sdb +20 deleted' '1 +data1 +krvn-cluster +- +20 deleted'; do
  if ! printf '%s\n' "$status" | grep -Eq "^ +$item"; then
    printf 'no item "%s" in\n%s\n' "$item" "$status" >&2
    exit 1
  fi
done
echo "the section ran to its end: $commands korvan-host commands"
