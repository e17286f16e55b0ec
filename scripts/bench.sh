#!/usr/bin/env bash
# Builds and runs every benchmark (build/bin/*_bench.exe) in one Wine session; prints figures.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
if [ "${1:-}" != "--in-session" ]; then
  bash "$here/setup.sh" >/dev/null
  # Cross-process figures need COM's windows, and so a display.
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/bench.sh" --in-session
fi
source "$here/wine_env.sh"
wineserver -p
trap 'wineserver -k' EXIT
for bench in "$build_dir"/bin/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench" </dev/null
done
