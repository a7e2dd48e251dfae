#!/usr/bin/env bash
# Stands in for the Linux kova-upgrade in the end-to-end scripts: runs the
# Windows one under Wine, in the network namespace this is started in.
#
# A wine server and its service processes serve the namespace they were
# started in, whatever namespace a program of the prefix runs in. So every
# namespace gets its own prefix, a copy of the base one (wine_prefix_copy),
# whose persistent server the first run there starts; the runs after it,
# parallel ones too, find it ready and cost tens of milliseconds instead of
# seconds.
#
#   KOVA_WINDOWS_EXE    the kova-upgrade.exe to run
#   KOVA_WINEPREFIX     the base prefix (scripts/windows-env.sh makes it)
#   KOVA_WINE_PREFIXES  where the copies go, on the base prefix's file
#                       system; whoever set it ends their servers
#                       (wineserver -k) and removes them
set -u
exe=${KOVA_WINDOWS_EXE:?KOVA_WINDOWS_EXE names no kova-upgrade.exe}
base=${KOVA_WINEPREFIX:?KOVA_WINEPREFIX names no Wine prefix}
copies=${KOVA_WINE_PREFIXES:?KOVA_WINE_PREFIXES names no directory for the copies}
[ -f "$exe" ] || { echo "kova-upgrade-wine: no $exe" >&2; exit 127; }
[ -f "$base/system.reg" ] || { echo "kova-upgrade-wine: no Wine prefix at $base" >&2; exit 127; }

# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/../../scripts/windows-env.sh"

# The namespace by name where `ip netns` made it, else by its inode.
ns=$(ip netns identify "$$" 2>/dev/null)
ns=${ns:-netns-$(stat -L -c %i /proc/self/ns/net)}
prefix=$copies/$ns
export WINEPREFIX=$prefix

mkdir -p "$copies" || exit 127
{
  flock 9 || exit 127
  if [ ! -e "$prefix/.kova-server-started" ]; then
    rm -rf "$prefix" "$prefix.partial"
    wine_prefix_copy "$base" "$prefix.partial"
    # Linked programs and a registry of its own, or no copy at all.
    if [ ! -f "$prefix.partial/drive_c/windows/system32/kernel32.dll" ] ||
      [ "$(stat -c %h "$prefix.partial/system.reg" 2>/dev/null)" != 1 ]; then
      echo "kova-upgrade-wine: cannot copy $base into $copies (another file system?)" >&2
      rm -rf "$prefix.partial"
      exit 127
    fi
    # What the tool wrote under the base prefix stays there.
    rm -rf "$prefix.partial/drive_c/ProgramData/kova-upgrade" \
      "$prefix.partial"/drive_c/users/*/AppData/Local/kova-upgrade
    mv "$prefix.partial" "$prefix" || exit 127
    # Neither keeps the lock, nor this run's stdout: the service processes
    # wineboot starts outlive it, and a pipe they hold never ends.
    wineserver -p 9>&- </dev/null >/dev/null 2>&1 || {
      echo "kova-upgrade-wine: no wine server for $prefix" >&2
      exit 127
    }
    wine wineboot 9>&- </dev/null >/dev/null 2>&1
    touch "$prefix/.kova-server-started"
  fi
} 9>"$copies/$ns.lock"

exec wine "$exe" "$@"
