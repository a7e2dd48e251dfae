#!/usr/bin/env bash
# Builds the Debian package from a copy of this tree (dpkg-buildpackage -b,
# as a maintainer would), has lintian check it, installs it with apt as an
# engineer would, checks what it installed (files, group, mode, capabilities,
# the programs and the manual pages), installs it again as an upgrade does,
# purges it while the group has a member (the group stays), installs it and
# purges it again (the group goes), and checks that nothing of it is left.
#   usage: scripts/package-check.sh
# Run as root on Debian 12 (scripts/install-deps.sh: debhelper, lintian).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
group=kova-upgrade
caps=cap_net_bind_service,cap_net_admin=ep
programs=(/usr/bin/kova-upgrade /usr/bin/kova-upgrade-tool)
files=("${programs[@]}"
       /usr/share/applications/kova-upgrade-tool.desktop
       /usr/share/icons/hicolor/scalable/apps/kova-upgrade-tool.svg
       /usr/share/locale/de/LC_MESSAGES/kova-upgrade-tool.mo
       /usr/share/man/man1/kova-upgrade.1.gz
       /usr/share/man/man1/kova-upgrade-tool.1.gz
       /usr/share/doc/kova-upgrade/README.md.gz
       /usr/share/doc/kova-upgrade/changelog.gz
       /usr/share/doc/kova-upgrade/copyright
       /usr/share/doc/kova-upgrade/cli-events.schema.json.gz)
status=0
member='' outsider='' work=''

fail() {
  echo "package-check: FAIL: $*"
  status=1
}

installed() {
  dpkg-query -W -f='${Status}' kova-upgrade 2>/dev/null | grep -q 'ok installed'
}

# shellcheck disable=SC2317 # run by the EXIT trap below
cleanup() {
  [ -n "$member" ] && userdel "$member" 2>/dev/null
  [ -n "$outsider" ] && userdel "$outsider" 2>/dev/null
  if installed; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kova-upgrade >/dev/null 2>&1
  fi
  getent group "$group" >/dev/null && delgroup --system --quiet "$group" 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}

# What an installation of someone's own would lose to the purge below.
if installed || getent group "$group" >/dev/null; then
  echo "package-check: kova-upgrade or the group $group is on this machine already; left alone"
  exit 1
fi
trap cleanup EXIT

version=$(dpkg-parsechangelog -S Version)
work=$(mktemp -d /tmp/kova-package.XXXXXX)
# The tree as git sees it (tracked files and new ones not ignored), without
# the build directories; dpkg-buildpackage writes the package beside it.
mkdir "$work/kova-upgrade"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - |
  tar -C "$work/kova-upgrade" -xf - || { echo "package-check: could not copy the tree"; exit 1; }
(cd "$work/kova-upgrade" && DEB_BUILD_OPTIONS="parallel=$(nproc)" \
  dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) || {
  tail -n 30 "$work/build.log"
  echo "package-check: dpkg-buildpackage failed"
  exit 1
}
deb=$(echo "$work"/kova-upgrade_"$version"_*.deb)
[ -f "$deb" ] || { echo "package-check: no package $deb"; exit 1; }
echo "package-check: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
# Errors and warnings fail; what lintian reports is shown either way.
findings=$(lintian --fail-on error,warning "$work"/kova-upgrade_"$version"_*.changes \
  2>"$work/lintian.err") || fail "lintian: $findings $(cat "$work/lintian.err")"
[ -z "$findings" ] || echo "$findings"

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null || {
  echo "package-check: apt could not install $deb"
  exit 1
}

# check_installed: what postinst and dpkg must have left.
check_installed() {
  local listed expected f
  listed=$(dpkg -L kova-upgrade | while read -r f; do [ -d "$f" ] || echo "$f"; done | sort)
  expected=$(printf '%s\n' "${files[@]}" | sort)
  [ "$listed" = "$expected" ] || fail "the package holds $(echo "$listed" | tr '\n' ' ')"
  for f in "${files[@]}"; do
    [ -f "$f" ] || fail "$f is missing"
  done
  getent group "$group" >/dev/null || fail "no group $group"
  for f in "${programs[@]}"; do
    [ "$(stat -c '%a %U %G' "$f")" = "750 root $group" ] ||
      fail "$f is $(stat -c '%a %U %G' "$f")"
    [ "$(getcap "$f")" = "$f $caps" ] || fail "getcap $f: '$(getcap "$f")'"
    [ "$(dpkg-statoverride --list "$f")" = "root $group 750 $f" ] ||
      fail "dpkg-statoverride $f: '$(dpkg-statoverride --list "$f")'"
  done
}
check_installed

[ "$(kova-upgrade --version)" = "kova-upgrade $version" ] ||
  fail "kova-upgrade --version: $(kova-upgrade --version)"
kova-upgrade --help | head -n 1 | grep -q '^usage: kova-upgrade ' || fail "kova-upgrade --help"
[ "$(man -w kova-upgrade)" = /usr/share/man/man1/kova-upgrade.1.gz ] ||
  fail "man -w kova-upgrade: $(man -w kova-upgrade 2>&1)"
page=$(MANWIDTH=80 MANPAGER=cat man kova-upgrade 2>&1 | tr -s ' ')
grep -q 'kova-upgrade - upgrade the firmware of a KOVA board' <<<"$page" ||
  fail "man kova-upgrade: $(head -n 5 <<<"$page")"
[ "$(man -w kova-upgrade-tool)" = /usr/share/man/man1/kova-upgrade-tool.1.gz ] ||
  fail "man -w kova-upgrade-tool: $(man -w kova-upgrade-tool 2>&1)"
# The dialog starts and shows its window on a display of its own; the
# installed program, not the build's.
if command -v xvfb-run >/dev/null; then
  # shellcheck disable=SC2016 # the inner sh expands them
  (cd "$work" && xvfb-run -a sh -c '
    /usr/bin/kova-upgrade-tool & pid=$!
    for _ in $(seq 100); do
      if xwininfo -root -tree | grep -q "KOVA"; then kill "$pid"; wait "$pid"; exit 0; fi
      sleep 0.1
    done
    kill "$pid"; wait "$pid"; exit 1' >/dev/null 2>&1) ||
    fail "the installed kova-upgrade-tool showed no window"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/kova-upgrade-tool.desktop ||
    fail "the desktop entry does not validate"
fi

# as_user USER PROGRAM [ARGS...]: run as USER, with USER's groups. setpriv
# itself keeps root's capabilities up to its exec, which would pass any file
# mode; the shell it starts has none, as a login would.
as_user() {
  local user=$1
  shift
  # shellcheck disable=SC2016 # the inner sh expands them
  setpriv --reuid "$user" --regid nogroup --init-groups sh -c 'exec "$0" "$@"' "$@"
}

# The mode lets the group's members in and keeps everyone else out.
member=kova-pkg-in-$$
outsider=kova-pkg-out-$$
useradd --system --no-create-home --shell /usr/sbin/nologin -G "$group" "$member"
useradd --system --no-create-home --shell /usr/sbin/nologin "$outsider"
[ "$(as_user "$member" /usr/bin/kova-upgrade --version 2>&1)" = "kova-upgrade $version" ] ||
  fail "a member of $group cannot run kova-upgrade"
as_user "$outsider" /usr/bin/kova-upgrade --version >/dev/null 2>&1
rc=$?
[ $rc -eq 126 ] || fail "a user outside $group ran kova-upgrade (exit $rc)"
userdel "$outsider" && outsider=

# Installed again, as an upgrade would: dpkg replaces the files, the mode
# follows the override and postinst gives the capabilities again.
apt-get install -y -qq --reinstall --no-install-recommends "$deb" >/dev/null ||
  fail "apt could not install $deb again"
check_installed

# check_purged: nothing of the package is left but, maybe, the group.
check_purged() {
  installed && fail "kova-upgrade is still installed"
  for f in "${files[@]}"; do
    [ -e "$f" ] && fail "$f is left"
  done
  for f in "${programs[@]}"; do
    dpkg-statoverride --list "$f" >/dev/null && fail "the mode override of $f is left"
  done
  ls /var/lib/dpkg/info/kova-upgrade.* >/dev/null 2>&1 && fail "dpkg still knows kova-upgrade"
}

# A group that still has a member stays, with the member in it.
apt-get purge -y -qq kova-upgrade >/dev/null 2>&1 || fail "apt could not purge kova-upgrade"
check_purged
[ "$(getent group "$group" | cut -d: -f4)" = "$member" ] ||
  fail "purged with a member, the group is '$(getent group "$group")'"
userdel "$member" && member=

# Installed once more, it takes the group as it is; purged without members,
# the group goes.
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null ||
  fail "apt could not install $deb beside the group left in place"
check_installed
apt-get purge -y -qq kova-upgrade >/dev/null || fail "apt could not purge kova-upgrade"
check_purged
getent group "$group" >/dev/null && fail "the group $group is left"

if [ $status -eq 0 ]; then
  echo "package-check: installed, checked, installed again and purged without a trace"
fi
exit $status
