#!/usr/bin/env bash
# The installer end to end, in a throw-away Wine prefix of its own inside the build tree (the
# suite's prefix is not touched): another vendor's keys are planted; an older package is
# installed, then this version's, which replaces it; the installed 64-bit and 32-bit opcclient
# create the installed server by ProgID and read, write and subscribe (DA 1.0 and DA 2.0) against
# a demo project's Viewer; the package is uninstalled, and nothing of ours may remain while the
# other vendor's keys stay. Before that, the package alone is installed, the other vendor's
# proxy/stub takes one of our interface routes, and the uninstall must leave that route. Ends only its own prefix's wineserver and the processes it started.
#
#   msi_install_e2e.sh <build dir> <msi> [--show]
#
# --show prints every client's output (the demo's last step runs it so).
set -euo pipefail
build_dir=$1
msi=$2
show=${3:-}
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine_env.sh"
installer_sources=$repo_root/installer
work=$build_dir/installer_test
export WINEPREFIX=$work/prefix
bin=$build_dir/bin
viewer_pid=""

end_session() {
  if [ -n "$viewer_pid" ]; then kill "$viewer_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
trap end_session EXIT

step() { printf '== %s\n' "$*"; }
patience=120  # seconds: bounds every program this script waits for
fail() { printf 'FAILED: %s\n' "$*"; exit 1; }

# Runs the checks whose names match the filter, in this prefix.
checks() {
  timeout "$patience" wine "$bin/installed_server_checks.exe" --gtest_filter="$1" \
    >"$work/checks.txt" 2>&1 ||
    { cat "$work/checks.txt"; fail "checks $1"; }
  grep -E '^\[  PASSED  \]' "$work/checks.txt"
}

msiexec_quietly() {
  timeout "$patience" wine msiexec "$1" "$(winepath -w "$2")" /qn || fail "msiexec $1 $2"
}

# Runs an installed opcclient; its output must hold every expected text. The output goes to a
# file, not a pipe: the server COM starts for the client inherits it and outlives the client.
client() {
  local program=$1 arguments=$2
  shift 2
  # Now and then (about one run in eight under load) wine's loader cannot open the program and
  # hands it to start.exe, which reports "ShellExecuteEx" failing: the program never ran, so it
  # is started once more; any failure of the program itself fails at once.
  local attempt
  for attempt in 1 2; do
    # shellcheck disable=SC2086  # the arguments are words
    if timeout "$patience" wine "$program" $arguments >"$work/client.txt" 2>&1; then break; fi
    if [ "$attempt" = 2 ] || ! grep -q ShellExecuteEx "$work/client.txt"; then
      cat "$work/client.txt"
      fail "$program $arguments"
    fi
  done
  if [ "$show" = --show ]; then
    printf '\n> %s %s\n' "$program" "$arguments"
    cat "$work/client.txt"
  fi
  for expected in "$@"; do
    grep -qF -- "$expected" "$work/client.txt" ||
      { cat "$work/client.txt"; fail "'$expected' from $program $arguments"; }
  done
  echo "   ok: $program $arguments"
}

step "fresh Wine prefix $WINEPREFIX"
wineserver -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
{ timeout "$patience" wineboot -i; wineserver -w; } >/dev/null 2>&1 || true
# As for the suite: the session starts first, quietly, so that Wine's helpers hold no output
# open, and its services are up before COM has to start a server.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  </dev/null >/dev/null 2>&1
checks 'OtherVendor.PlantsItsKeys'

step "this package on its own; another vendor's proxy/stub takes a route of ours; uninstalling leaves it"
msiexec_quietly /i "$msi"
checks 'InstalledServer.EveryEntryInBothViewsNamesTheInstalledFiles'
checks 'OtherVendor.TakesARouteOfOursAfterOurInstall'
msiexec_quietly /x "$msi"
checks 'UninstalledServer.*:OtherVendor.KeysAreUntouched:OtherVendor.KeepsTheRouteItTook'
checks 'OtherVendor.GivesBackTheRouteItTook'

step "an older package (0.9.0), then this one: the newer replaces the older"
(cd "$(dirname "$msi")" && bash "$installer_sources/make_msi.sh" 0.9.0 "$work/older.msi")
msiexec_quietly /i "$work/older.msi"
msiexec_quietly /i "$msi"
checks 'InstalledServer.*'

step "a demo project and its Viewer"
wine "$bin/pxproject.exe" "$(winepath -w "$work/system")" "$(winepath -w "$work/project")" \
  >/dev/null 2>&1
(cd "$work/system" && exec wine "$bin/PXViewer.exe" --rate 500 >/dev/null 2>&1) &
viewer_pid=$!
wine "$bin/tag_monitor.exe" --wait 10000 --times 1 >/dev/null 2>&1 || fail "the Viewer did not start"

step "the installed clients of both bitnesses against the installed server (COM starts it)"
x64_client='C:\Program Files\Parhelionix\OPC Server\opcclient.exe'
x86_client='C:\Program Files (x86)\Parhelionix\OPC Server\opcclient.exe'
for program in "$x64_client" "$x86_client"; do
  client "$program" "status" "Parhelionix"
  client "$program" "browse leaves" "Counter" "Level"
  client "$program" "read Counter Level --source device" "Counter = " "quality good (0xC0)"
  client "$program" "write Level 12" "Level = 12"
  client "$program" "watch Counter --format time --callbacks 2 --seconds 30" \
    "data with time stream" "watched 2 callback(s); unadvised"
  client "$program" "properties Level + locales" "Level: 6 properties" "locales: "
  client "$program" "watch2 Counter --callbacks 1 --seconds 30" "watched 1 data change(s)"
  client "$program" "read2 Counter + write2 Level 55" "read complete: transaction" \
    "item 0: written"
done

step "closing the server and the Viewer"
wine "$bin/server_probe.exe" close --wait 10000 >/dev/null 2>&1 || fail "the server did not close"
wine "$bin/tag_monitor.exe" --close-viewer --wait 10000 >/dev/null 2>&1 || fail "the Viewer did not close"
wait "$viewer_pid" || true
viewer_pid=""

step "uninstalling: nothing of ours remains, the other vendor's keys stay"
msiexec_quietly /x "$msi"
checks 'UninstalledServer.*:OtherVendor.KeysAreUntouched'
echo "installer end to end: passed"
