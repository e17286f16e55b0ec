#!/usr/bin/env bash
# Runs every test: set-up, then CTest under a private X server, inside one Wine session.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
bash "$here/setup.sh"
exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/ctest_in_wine_session.sh" "$@"
