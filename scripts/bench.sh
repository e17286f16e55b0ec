#!/usr/bin/env bash
# Builds and runs every benchmark (build/bin/*_bench.exe) in one Wine session; prints figures.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
bash "$here/setup.sh" >/dev/null
source "$here/wine_env.sh"
wineserver -p
trap 'wineserver -k' EXIT
for bench in "$build_dir"/bin/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench" </dev/null
done
