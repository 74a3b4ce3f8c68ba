#!/usr/bin/env bash
# Installs what is missing, builds every Tallowin deliverable, then starts the command-line
# companion on this user's vault: `tallowin-cli status` by default, or the command given.
# Usage: scripts/run.sh [COMMAND [ARGUMENTS...]]   e.g. scripts/run.sh init
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
echo "Built Tallowin in $build"
if (($# == 0)); then
  set -- status
fi
exec "$build/src/cli/tallowin-cli" "$@"
