#!/bin/bash
# The host's folders are layers, and a file includes only from its own layer and those
# below it: base/ and text/, then process/, conversation/, differential/ and report/,
# commands/, and main.cpp above them all.
# usage: layers.sh HOST_SOURCE_FOLDER
host=$1
rank() {
  case $1 in
    base | text) echo 0 ;;
    process) echo 1 ;;
    conversation) echo 2 ;;
    differential | report) echo 3 ;;
    commands) echo 4 ;;
    *) echo 5 ;;
  esac
}
checked=0
while IFS= read -r file; do
  relative=${file#"$host"/}
  layer=${relative%%/*}
  [ "$layer" = "$relative" ] && layer=main
  while IFS= read -r included; do
    [ "$(rank "$included")" -le "$(rank "$layer")" ] ||
      { echo "FAILED: $relative includes from $included, a layer above its own"; exit 1; }
    checked=$((checked + 1))
  done < <(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file")
done < <(find "$host" -name '*.cpp' -o -name '*.h')
[ "$checked" -gt 50 ] || { echo "FAILED: only $checked includes found"; exit 1; }
echo "layers: $checked includes, none from a layer above"
