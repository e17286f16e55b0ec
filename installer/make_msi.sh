#!/usr/bin/env bash
# Builds the MSI from opcserver.wxs and component_conditions.txt in the current folder (the
# build's installer folder): wixl makes the package, then msibuild writes the components'
# attributes and conditions, which wixl cannot.
#
#   make_msi.sh <version> <output.msi>
set -euo pipefail
version=$1
output=$2
wixl --arch x64 -D Version="$version" -o "$output" opcserver.wxs
queries=()
while IFS=$'\t' read -r component attributes condition; do
  [ -n "$component" ] || continue
  queries+=(-q "UPDATE \`Component\` SET \`Attributes\` = $attributes, \`Condition\` = '$condition' WHERE \`Component\` = '$component'")
done <component_conditions.txt
if ((${#queries[@]})); then msibuild "$output" "${queries[@]}"; fi
