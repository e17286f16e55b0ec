# Sourced by the other scripts: one private Wine prefix inside the build tree, code page 936.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$repo_root/build}
export WINEPREFIX=$build_dir/wineprefix
export WINEDEBUG=-all
# The ANSI code page comes from the locale the wineserver starts with; both are needed for 936.
# The locale is not generated on the machine; bash's complaint about it is noise.
{ export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8; } 2>/dev/null
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
