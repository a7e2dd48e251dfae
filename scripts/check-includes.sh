#!/usr/bin/env bash
# The layers point one way. Fails when a file includes a folder its layer
# may not reach:
#   - only app, cli, controller, procedures and maintenance include controller/;
#   - common and platform include nothing of the project above them
#     (common only common/, platform only platform/ and common/);
#   - the boot server reaches only platform/ and common/.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
violation() {
  echo "include rule: $1 includes \"$2\" ($3)"
  status=1
}

while IFS= read -r file; do
  layer=${file#src/}
  layer=${layer%%/*}
  while IFS= read -r target; do
    folder=${target%%/*}
    case $layer in
      common)
        [ "$folder" = common ] || violation "$file" "$target" "common reaches nothing above it" ;;
      platform)
        case $folder in platform | common) ;; *)
          violation "$file" "$target" "platform reaches only common" ;;
        esac ;;
      bootserver)
        case $folder in bootserver | platform | common) ;; *)
          violation "$file" "$target" "the boot server reaches only platform and common" ;;
        esac ;;
      app | cli | controller | procedures | maintenance) ;;
      *)
        [ "$folder" != controller ] || violation "$file" "$target" "$layer may not reach the engine" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files 'src/*.cpp' 'src/*.h')

if [ $status -eq 0 ]; then
  echo "include rule: every layer points down"
fi
exit $status
