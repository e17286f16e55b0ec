#!/usr/bin/env bash
# The demo: builds what is missing, writes a demo project into build/demo, runs the Viewer
# stand-in on it and shows its tag values changing, starts OPCServer.exe beside it, subscribes
# a client that prints the values as the Viewer changes them, writes a value from a client
# that reaches the Viewer's request log, lets a 32-bit client do the same, then closes the
# server and the Viewer. Last, the installer in a prefix of its own: installed, the installed
# 32-bit and 64-bit clients against the installed server, uninstalled. The whole session
# runs in one wineserver of the build's own prefix, under a private X server (the Viewer has a
# window); only that wineserver and the processes started here are ended.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" != "--in-session" ]; then
  bash "$here/setup.sh"
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/demo.sh" --in-session
fi

source "$here/wine_env.sh"
bin=$build_dir/bin
demo_dir=$build_dir/demo
viewer_pid=""
server_pid=""

end_session() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  if [ -n "$viewer_pid" ]; then kill "$viewer_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
trap end_session EXIT

step() { printf '\n== %s\n' "$*"; }

start_session() {
  # As for the tests: the session first, so that Wine's helpers do not hold our output open.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

write_project() {
  step "writing the demo project (pxproject.exe)"
  wine "$bin/pxproject.exe" "$(winepath -w "$demo_dir/system")" "$(winepath -w "$demo_dir/project")"
  rm -f "$demo_dir/project/PXVIEWER.LOG"
}

start_viewer() {
  step "starting the Viewer stand-in (PXViewer.exe, one step every 500 ms)"
  (cd "$demo_dir/system" && exec wine "$bin/PXViewer.exe" --rate 500) &
  viewer_pid=$!
}

show_tags() {
  step "the shared tag area, a snapshot every 1.5 s (tag_monitor.exe)"
  # Through a pipe the monitor writes UTF-8, which shows the Chinese names; Wine's console
  # would turn them into '?' since the zh_CN.UTF-8 locale is not generated on the machine.
  wine "$bin/tag_monitor.exe" --wait 10000 --every 1500 --times 3 | cat
}

close_viewer() {
  step "closing the Viewer (WM_CLOSE)"
  wine "$bin/tag_monitor.exe" --close-viewer --wait 10000
  local status=0
  wait "$viewer_pid" || status=$?
  viewer_pid=""
  echo "Viewer exit code: $status"
  step "write requests the Viewer took (project\\PXVIEWER.LOG)"
  if [ -s "$demo_dir/project/PXVIEWER.LOG" ]; then cat "$demo_dir/project/PXVIEWER.LOG"
  else echo "(none: no client wrote to a tag)"; fi
  return "$status"
}

start_server() {
  step "starting OPCServer.exe /trace: it finds the Viewer, mirrors its tags, hides in the tray, and keeps a support trace"
  wine cmd /c 'del "%TEMP%\OPCServer-trace.log" "%TEMP%\OPCServer-trace.old.log"' >/dev/null 2>&1 || true
  (cd "$demo_dir/system" && exec wine "$bin/OPCServer.exe" /trace) &
  server_pid=$!
  wine "$bin/server_probe.exe" status --wait 10000
}

show_server_polling() {
  step "the server's poll cycle at work: its status view, two pictures 2 s apart"
  wine "$bin/server_probe.exe" snapshot "$(winepath -w "$demo_dir/status_view_1.bmp")"
  sleep 2
  wine "$bin/server_probe.exe" snapshot "$(winepath -w "$demo_dir/status_view_2.bmp")"
  if cmp -s "$demo_dir/status_view_1.bmp" "$demo_dir/status_view_2.bmp"; then
    echo "the status view did not change between the pictures"
  else
    echo "the status view changed: each poll cycle brings the Viewer's new values"
  fi
}

close_server() {
  step "closing OPCServer.exe with its tray menu's Exit command"
  wine "$bin/server_probe.exe" close --wait 10000
  local status=0
  wait "$server_pid" || status=$?
  server_pid=""
  echo "OPCServer exit code: $status"
  return "$status"
}

register_server() {
  step "registering OPCServer.exe and both proxy/stub DLLs with COM, in the 64-bit and the 32-bit registry view (opcreg.exe)"
  wine "$bin/opcreg.exe" /register "$(winepath -w "$bin/OPCServer.exe")"
}

query_server() {
  step "an OPC client talks to the running server across processes (opcclient.exe)"
  wine "$bin/opcclient.exe" status | cat
  wine "$bin/opcclient.exe" add-group Tanks 500 + add-group Pumps 1000 inactive + list-groups \
    + remove-group 0 + status | cat
  wine "$bin/opcclient.exe" browse branches + browse leaves | cat
  wine "$bin/opcclient.exe" read RunFlag Counter Temperature Message Operator --source device | cat
  wine "$bin/opcclient.exe" read Counter Temperature --type R8 | cat
  wine "$bin/opcclient.exe" write Level 12.5 | cat
  # Setpoint is write-inhibited: the server refuses the write (OPC_E_BADRIGHTS, exit code 3).
  wine "$bin/opcclient.exe" write Setpoint 12.5 | cat || true
  wine "$bin/opcclient.exe" write RunFlag 0 --type I4 | cat
}

watch_values() {
  step "a client subscribes (opcclient.exe watch): the server sends the values the Viewer changes, every update period"
  wine "$bin/opcclient.exe" watch Counter Temperature Message RunFlag \
    --format time --callbacks 4 --seconds 20 | cat
}

write_from_client() {
  step "a client writes Level = 77 asynchronously; the server posts it to the Viewer with its next poll cycles"
  wine "$bin/opcclient.exe" async-write Level 77 | cat
  # The next update pass posts the value into the mirror, the poll cycle after it hands it on.
  sleep 3
  wine "$bin/opcclient.exe" read Level --source device | cat
}

da2_client() {
  step "an OPC DA 2.0 client: item properties and locales, then a subscription through the group's connection point (only the values that changed), IOPCAsyncIO2 read, write and refresh"
  wine "$bin/opcclient.exe" properties Temperature + locales | cat
  wine "$bin/opcclient.exe" watch2 Counter Temperature RunFlag Operator --callbacks 3 --seconds 20 | cat
  wine "$bin/opcclient.exe" read2 Counter Temperature + write2 Level 55 + refresh2 Counter RunFlag | cat
}

da3_client() {
  step "an OPC DA 3.0 client: IOPCBrowse a page at a time with continuation points and properties, IOPCItemIO reads by item ID with a max age and a VQT write, IOPCSyncIO2 read with a max age, then keep-alive callbacks on a quiet group"
  wine "$bin/opcclient.exe" browse3 Tagname --page 3 --properties 1,2 | cat
  wine "$bin/opcclient.exe" itemio-read Counter Temperature --maxage 0 + itemio-read Counter --maxage any | cat
  wine "$bin/opcclient.exe" itemio-write Level 21 --type I4 | cat
  # A quality cannot reach a tag record: the server refuses that item (exit code 3) and writes nothing.
  wine "$bin/opcclient.exe" itemio-write Level 22 --quality 192 | cat || true
  wine "$bin/opcclient.exe" read-maxage Counter Message --maxage 500 | cat
  wine "$bin/opcclient.exe" watch-keepalive Operator --keepalive 2000 --callbacks 3 --seconds 20 | cat
}

x86_client() {
  step "a 32-bit OPC client (bin/x86/opcclient.exe), as most plant clients are, talks to the 64-bit server through the 32-bit proxy/stub DLL"
  wine "$bin/x86/opcclient.exe" status + browse leaves | cat
  wine "$bin/x86/opcclient.exe" read Counter Temperature Message --source device | cat
  wine "$bin/x86/opcclient.exe" write Level 33 | cat
  wine "$bin/x86/opcclient.exe" watch Counter Temperature --format time --callbacks 2 --seconds 20 | cat
  wine "$bin/x86/opcclient.exe" watch2 Counter RunFlag --callbacks 2 --seconds 20 | cat
}

# A DA 2.0 client waits for the shutdown notice while the server is closed from its tray menu.
close_server_with_notice() {
  wine "$bin/opcclient.exe" await-shutdown --seconds 30 >"$demo_dir/shutdown_notice.txt" 2>&1 &
  local client_pid=$!
  sleep 3
  close_server
  wait "$client_pid" || true
  step "what the waiting DA 2.0 client received"
  cat "$demo_dir/shutdown_notice.txt"
  step "the server's support trace of this run, its newest lines (trace_tail.exe)"
  wine "$bin/trace_tail.exe" --lines 25 | cat
}

unregister_server() {
  step "removing the registration (opcreg.exe /unregister)"
  wine "$bin/opcreg.exe" /unregister
}

installed_server() {
  step "the installer (build/installer/*.msi) in a fresh Wine prefix of its own: msiexec /i, the installed clients of both bitnesses against the installed server, msiexec /x"
  bash "$here/../tests/installer/msi_install_e2e.sh" "$build_dir" \
    "$build_dir/installer/Parhelionix-OPCServer-"*"-x64.msi" --show
}

start_session
register_server
write_project
start_viewer
show_tags
start_server
show_server_polling
query_server
watch_values
write_from_client
da2_client
da3_client
x86_client
close_server_with_notice
close_viewer
unregister_server
installed_server
step "demo finished"
