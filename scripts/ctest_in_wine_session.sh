#!/usr/bin/env bash
# Starts the prefix's wineserver before CTest: otherwise Wine's helper processes hold
# CTest's output pipes open and every test waits for them.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$build_dir" --output-on-failure "$@"
status=$?
wineserver -k
wineserver -w
exit $status
