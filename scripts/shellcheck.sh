#!/usr/bin/env bash
# Runs shellcheck on every shell script of the checkout: the tracked *.sh files and
# the package's maintainer scripts (POSIX sh, templates CMake fills in).
# Sourced files are followed from where their sourcing script lies, or as a
# "# shellcheck source=" line names them.
#   usage: scripts/shellcheck.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v shellcheck >/dev/null; then
  echo "shellcheck.sh: no shellcheck (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mapfile -t scripts < <(git ls-files '*.sh')
mapfile -t maintainer < <(git ls-files 'packaging/debian/*.in')

# What shellcheck cannot see, file by file: scripts/test.sh runs its
# stages' functions only through stage(), which it takes for dead code.
declare -A excluded=([scripts/test.sh]=SC2317)

status=0
plain=()
for script in "${scripts[@]}"; do
  if [ -n "${excluded[$script]:-}" ]; then
    shellcheck -x -P SCRIPTDIR -e "${excluded[$script]}" "$script" || status=1
  else
    plain+=("$script")
  fi
done
# Each end-to-end test reads the library it sources again: in parallel.
printf '%s\0' "${plain[@]}" |
  xargs -0 -n 4 -P "$(nproc)" shellcheck -x -P SCRIPTDIR || status=1
if [ ${#maintainer[@]} -gt 0 ]; then
  shellcheck -s sh "${maintainer[@]}" || status=1
fi

if [ $status -eq 0 ]; then
  echo "shellcheck: $((${#scripts[@]} + ${#maintainer[@]})) scripts, no finding"
fi
exit $status
