#!/usr/bin/env bash
# Fails when a folder of src/ includes a header from a folder above it. The
# order is the one the libraries link in, bottom first; folders in one entry
# are side by side and may not include each other. The front ends come
# last: app holds the mains of both executables.
set -euo pipefail
src=${1:-$(dirname "$0")/../src}
layers=(platform "settings log filter accounts cache tls" protocol session transfer commands server console app)
declare -A rank
for i in "${!layers[@]}"; do for folder in ${layers[$i]}; do rank[$folder]=$i; done; done
status=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  [ -n "${rank[$folder]:-}" ] || { echo "src/$folder has no place in the layer order of $0"; status=1; continue; }
  while IFS=: read -r file line text; do
    used=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")
    [ -n "${rank[$used]:-}" ] || continue
    if [ "$used" != "$folder" ] && [ "${rank[$used]}" -ge "${rank[$folder]}" ]; then
      echo "${file#"$src"/}:$line: $folder may not include from $used"
      status=1
    fi
  done < <(grep -rnE '^#include "[a-z_]+/' "$dir" || true)
done
exit $status
