#!/usr/bin/env bash
# Installs what is missing, configures, builds and makes the Wine prefix. Safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

# wine32 runs the 32-bit clients (and their proxy/stub DLL) beside the 64-bit server;
# wixl builds the installer, msibuild (msitools) completes it.
packages=(cmake make wine wine64 wine32:i386 mingw-w64 mingw-w64-tools
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          xvfb xauth googletest libwine-dev wixl msitools
          fonts-wqy-microhei)  # a CJK font, so that windows draw the Chinese tag names
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "== adding the i386 architecture (for wine32)"
  $sudo_cmd dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Configured every time: folders join the build when their CMakeLists.txt appears. The 64-bit
# configuration builds the 32-bit one (what 32-bit clients load) into build/x86 and bin/x86, and
# the installer into build/installer.
cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw64-toolchain.cmake" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# A prefix made while wine32 was missing has an empty syswow64 and runs nothing once wine32 is
# there ("could not load kernel32.dll"): make it anew.
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "== remaking Wine prefix $WINEPREFIX (made without 32-bit Wine)"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  # Without waiting here the next session runs two services.exe and COM activation hangs.
  wineserver -w
  # A crash must show as a crash, not as a dialog waiting for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
fi
