#!/usr/bin/env bash
# Checks that every #include "folder/..." in the tree follows the folder layers, and
# names each file and include that does not. Bottom to top:
#   platform/ (the floor) <- util/ <- zip/ <- listing/ <- cli/, dialogs/ <- app/
#   abi/, the compression libraries' C ABI, stands on nothing; zip/ and libs/ share it.
#   libs/ sees only abi/ and the floor, tools/ only the floor; bench/ and tests/ any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder -> the folders it may include besides itself ("*": any known folder).
declare -A ALLOWED=(
  [platform]=""
  [util]="platform"
  [abi]=""
  [zip]="abi util platform"
  [listing]="zip abi util platform"
  [libs]="abi util platform"
  [cli]="listing zip abi util platform"
  [dialogs]="listing zip abi util platform"
  [app]="dialogs listing zip abi util platform"
  [tools]="util platform"
  [bench]="app dialogs listing zip abi util platform"
  [tests]="*"
)

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.h' '*.cpp' '*.hpp' '*.cc')
else
  mapfile -t files < <(find . -path ./build -prune -o -path ./.git -prune -o \
    -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' -o -name '*.hpp' -o -name '*.cc' \) \
    -print | sed 's#^\./##')
fi

bad=0
for file in "${files[@]}"; do
  [[ -f $file ]] || continue
  from=${file%%/*}
  [[ $from == "$file" ]] && continue   # a file at the top of the tree
  while IFS=: read -r line include; do
    to=${include%%/*}
    why=""
    if [[ -z ${ALLOWED[$to]+set} ]]; then
      why="$to/ is not a folder of the layer table"
    elif [[ -z ${ALLOWED[$from]+set} ]]; then
      why="$from/ is not in the layer table"
    elif [[ $to != "$from" && ${ALLOWED[$from]} != "*" && " ${ALLOWED[$from]} " != *" $to "* ]]; then
      why="$from/ may not include $to/"
    fi
    if [[ -n $why ]]; then
      echo "$file:$line: #include \"$include\": $why" >&2
      bad=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' "$file" |
           sed -E 's@^([0-9]+):[^"]*"([^"]*)".*@\1:\2@')
done

if ((bad)); then
  echo "check-layers: includes against the folder layers (see the table in $0)" >&2
  exit 1
fi
echo "check-layers: ${#files[@]} files follow the folder layers"
