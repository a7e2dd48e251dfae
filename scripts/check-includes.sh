#!/usr/bin/env bash
# The layers point one way, down. Each folder under src/ names the folders
# its files may include ("folder/file.h"); a file may always include its own
# folder, written with quotes or with angle brackets. Anything else fails,
# one line per include: a folder not on its
# line, an include that names no folder, a folder under src/ that the list
# does not know (a new layer is added here on purpose). The Windows files
# live beside the Linux ones and obey the same lines, built here or not.
#   usage: scripts/check-includes.sh [--graph] [ROOT]
#   ROOT: the tree to check (default: this checkout); its files come from
#         git when ROOT is a checkout, otherwise from find
#   --graph: prints which folders each folder's files include, and exits
set -euo pipefail

# One line per folder: to tighten a rule, take a folder off its line.
allow_list='
app:          frontend controller operation hostnet common
cli:          frontend controller operation config hostnet platform common
frontend:     platform common
controller:   procedures maintenance operation isp bootserver config hostnet protocol platform common
procedures:   operation isp hostnet protocol platform common
maintenance:  operation protocol common
operation:    isp bootserver config hostnet protocol platform common
isp:          protocol common
bootserver:   platform common
config:       platform common
hostnet:      platform common
protocol:     platform common
platform:     common
common:
'

graph=false
root=
for arg in "$@"; do
  case $arg in
    --graph) graph=true ;;
    -*) echo "usage: scripts/check-includes.sh [--graph] [ROOT]" >&2; exit 2 ;;
    *) root=$arg ;;
  esac
done
[ -n "$root" ] || root="$(dirname "$0")/.."
cd "$root"
if [ ! -d src ]; then
  echo "check-includes: no src/ under $root" >&2
  exit 2
fi

declare -A allowed=()
while read -r folder targets; do
  case $folder in '' | '#'*) continue ;; esac
  allowed[${folder%:}]=$targets
done <<<"$allow_list"
# A misspelt folder on a line would allow nothing and hide nothing; say so.
for folder in "${!allowed[@]}"; do
  for target in ${allowed[$folder]}; do
    if [ -z "${allowed[$target]+known}" ]; then
      echo "check-includes: the line of $folder names $target, which has no line" >&2
      exit 2
    fi
  done
done

# Files of a checkout come from git, not yet added ones too (a build tree
# or a stray copy under src/ is not part of it); a plain copy is walked.
list_sources() {
  if [ -e .git ]; then
    git ls-files -z --cached --others --exclude-standard -- \
      'src/*.cpp' 'src/*.h' 'src/*.hpp' 'src/*.c'
  else
    find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.c' \) -print0
  fi
}
files=()
while IFS= read -r -d '' file; do
  # git still lists a tracked file deleted in the work tree.
  if [ -f "$file" ]; then
    files+=("$file")
  fi
done < <(list_sources)

status=0
violation() {
  echo "include rule: $1 includes \"$2\" ($3)"
  status=1
}

# One grep for the whole tree keeps this fast: "FILE:LINE" per include.
includes=()
if [ ${#files[@]} -gt 0 ]; then
  mapfile -t includes < <(printf '%s\0' "${files[@]}" |
    xargs -0 grep -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' || true)
fi

declare -A edges=()
for line in "${includes[@]}"; do
  file=${line%%:*}
  target=${line#*:}
  target=${target#*include}
  target=${target#"${target%%[<\"]*}"}
  layer=${file#src/}
  layer=${layer%%/*}
  if [ "${target:0:1}" = "<" ]; then
    # The system's headers; a folder of the tree in brackets is checked too.
    target=${target:1}
    target=${target%%>*}
    folder=${target%%/*}
    [ -n "${allowed[$folder]+known}" ] || continue
  else
    target=${target:1}
    target=${target%%\"*}
    folder=${target%%/*}
  fi
  if [ "$folder" = "$target" ]; then
    folder=
  fi
  if [ -n "$folder" ] && [ "$folder" != "$layer" ]; then
    edges[$layer]+=" $folder"
  fi
  $graph && continue
  if [ -z "${allowed[$layer]+known}" ]; then
    continue # reported once per folder below
  elif [ -z "$folder" ]; then
    violation "$file" "$target" "includes name their folder under src/"
  elif [ "$folder" != "$layer" ] && [[ " ${allowed[$layer]} " != *" $folder "* ]]; then
    if [ -z "${allowed[$folder]+known}" ]; then
      violation "$file" "$target" "$folder/ is no folder of the layer list"
    else
      rule=${allowed[$layer]}
      violation "$file" "$target" "rule: $layer -> $rule${rule:+ and }$layer itself"
    fi
  fi
done

if $graph; then
  for file in "${files[@]}"; do
    layer=${file#src/}
    layer=${layer%%/*}
    edges[$layer]+=""
  done
  for layer in "${!edges[@]}"; do
    # shellcheck disable=SC2086 # the folder names are split on purpose
    echo "$layer -> $(printf '%s\n' ${edges[$layer]} | sort -u | paste -sd ' ')"
  done | sort | sed 's/ $//'
  exit 0
fi

declare -A seen=()
for file in "${files[@]}"; do
  rest=${file#src/}
  layer=${rest%%/*}
  [ -z "${seen[$layer]+yes}" ] || continue
  seen[$layer]=yes
  if [ "$layer" = "$rest" ]; then
    echo "include rule: $file lies in no folder of src/ (every file belongs to a layer)"
    status=1
  elif [ -z "${allowed[$layer]+known}" ]; then
    echo "include rule: src/$layer/ ($file) is not in the layer list of scripts/check-includes.sh"
    status=1
  fi
done

if [ $status -eq 0 ]; then
  echo "include rule: every layer points down"
fi
exit $status
