#!/bin/bash
# The host's folders are layers, and a file includes only from its own layer and those
# below it: base/ and text/, then sandbox/ (the supervisor's own program among it),
# process/, conversation/, then hosting/, differential/, conformance/ and report/, library/
# (the C API over hosting/), commands/, and main.cpp above them all.
# usage: layers.sh HOST_SOURCE_FOLDER
host=$1
rank() {
  case $1 in
    base | text) echo 0 ;;
    sandbox) echo 1 ;;
    process) echo 2 ;;
    conversation) echo 3 ;;
    hosting | differential | report | conformance) echo 4 ;;
    library) echo 5 ;;
    commands) echo 6 ;;
    *) echo 7 ;;
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
