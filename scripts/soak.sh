#!/usr/bin/env bash
# Soaks the registered OPCServer.exe: subscribers, a churn client and killed clients for a given
# time, with the server's memory, handles, threads and deliveries printed every report period.
#
#     bash scripts/soak.sh [--seconds 3600] [--subscribers 3] [--report 30] [--victims on|off]
#     bash scripts/soak.sh --leak-probe [ValidateItems calls] [AddGroup/RemoveGroup pairs]
#
# Builds first; runs in the build's own Wine prefix under a private X server and ends that
# prefix's wineserver afterwards (nothing else).
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
if [ "${1:-}" != "--in-session" ]; then
  bash "$here/setup.sh" >/dev/null
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/soak.sh" --in-session "$@"
fi
shift
source "$here/wine_env.sh"
wineserver -p
trap 'wineserver -k' EXIT
if [ "${1:-}" = "--leak-probe" ]; then
  shift
  wine "$build_dir/bin/leak_probe.exe" "$@" </dev/null
else
  wine "$build_dir/bin/soak.exe" "$@" </dev/null
fi
