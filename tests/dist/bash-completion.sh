#!/usr/bin/env bash
# pellux-cli's bash completion, loaded as bash-completion loads it, completing a few
# lines the way the shell would ask:
#   tests/dist/bash-completion.sh COMPLETION_FILE PELLUX_CLI
set -uo pipefail
COMPLETION=$(realpath "${1:?completion file}")
CLI=$(realpath "${2:?pellux-cli}")
[ -r /usr/share/bash-completion/bash_completion ] || { echo "bash-completion is not installed"; exit 77; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$COMPLETION"
failures=0

# complete LINE: the completions for the cursor at the end of LINE, one per line, sorted.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _pellux_cli pellux-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}
expect() {
  local line=$1 want got
  shift
  want=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
  got=$(complete_line "$line")
  if [ "$got" != "$want" ]; then
    echo "bash-completion: '$line' gave [$(echo $got)], not [$(echo $want)]" >&2
    failures=$((failures + 1))
  fi
}

cd "$WORK"
mkdir -p src/d/e out
echo x >src/d/e/f.txt
echo y >src/d/g.txt
echo z >"src/sp ace.txt"
(cd src && zip -qr ../a.zip d "sp ace.txt")
touch b.exe c.txt

expect "pellux-cli e" extract
expect "pellux-cli -q t" test
expect "pellux-cli --v" --version
expect "pellux-cli list a.zip --j" --json
expect "pellux-cli add a.zip --le" --level
expect "pellux-cli -q extract a.zip --ju" --junk-paths
expect "pellux-cli add a.zip --level " 0 1 2 3 4 5 6 7 8 9
# ARCHIVE: archives and the directories that may hold them.
expect "pellux-cli extract " a.zip b.exe out src
expect "pellux-cli extract a.zip -d " out src
expect "pellux-cli add a.zip c" c.txt
# NAMEs: the archive's stored names, a folder's own entry too, quoted for the shell.
expect "$CLI extract a.zip d/" d/ d/e/ d/e/f.txt d/g.txt
expect "$CLI test a.zip -d out s" 'sp\ ace.txt'
expect "$CLI delete ./a.zip d/e/" d/e/ d/e/f.txt
expect "$CLI extract missing.zip " ""

[ "$failures" -eq 0 ] || exit 1
echo "bash-completion: every line completed as expected"
