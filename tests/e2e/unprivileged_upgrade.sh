#!/usr/bin/env bash
# The command line as an engineer runs it once installed: not root, a member
# of the programs' group, with the file capabilities the installation gives
# (mode 0750, cap_net_bind_service and cap_net_admin). A whole old-platform
# upgrade then runs with those two capabilities and no others; a user outside
# the group cannot start the program; a copy without the capabilities, or one
# on a nosuid mount, says which capability is missing and how to get it, and
# exits 1 with nothing left behind. What an upgrade needs is checked before
# the board is told to jump: without cap_net_admin the board hears nothing,
# and a new-platform board without cap_net_bind_service hears no more than
# the platform query. The users and the group are the test's own and are
# removed at the end.
source "$(dirname "$0")/lib.sh"
e2e_setup
for tool in setcap getcap setpriv useradd userdel groupadd groupdel findmnt; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done

CAPS=cap_net_bind_service,cap_net_admin=ep
# CapEff of a process holding exactly cap_net_bind_service (10) and
# cap_net_admin (12).
CAPS_EFFECTIVE=0000000000001400
GROUP=kova-e2e-$$
MEMBER=kova-e2e-in-$$
OUTSIDER=kova-e2e-out-$$
PROGRAMS=

users_teardown() {
  userdel "$MEMBER" 2>/dev/null
  userdel "$OUTSIDER" 2>/dev/null
  groupdel "$GROUP" 2>/dev/null
  [ -n "$PROGRAMS" ] && rm -rf "$PROGRAMS"
}
trap 'users_teardown; e2e_teardown' EXIT

# File capabilities are ignored on a nosuid mount: the copies go to /var/tmp,
# or next to the build, whichever is not mounted so.
for base in /var/tmp "$(cd "$(dirname "$CLI")" && pwd)"; do
  if ! findmnt -n -o OPTIONS --target "$base" | tr ',' '\n' | grep -qx nosuid; then
    PROGRAMS=$(mktemp -d -p "$base" kova-e2e-programs.XXXXXX)
    break
  fi
done
[ -n "$PROGRAMS" ] || { echo "SKIP: no directory here honours file capabilities"; exit 77; }
chmod 0755 "$PROGRAMS" "$WORK"

groupadd --system "$GROUP" || fail "groupadd $GROUP"
useradd --system --no-create-home --no-user-group --gid nogroup --groups "$GROUP" \
  --shell /usr/sbin/nologin "$MEMBER" || fail "useradd $MEMBER"
useradd --system --no-create-home --no-user-group --gid nogroup --shell /usr/sbin/nologin \
  "$OUTSIDER" || fail "useradd $OUTSIDER"

# install_copy DIR [CAPS]: the program as the package installs it, with or
# without its capabilities.
install_copy() {
  mkdir -p "$1" && chmod 0755 "$1"
  cp "$CLI" "$1/kova-upgrade" || fail "cannot copy $CLI"
  # The owner first: a chown clears file capabilities.
  { chown "root:$GROUP" "$1/kova-upgrade" && chmod 0750 "$1/kova-upgrade"; } || fail "chown/chmod $1"
  if [ -n "${2:-}" ]; then
    setcap "$2" "$1/kova-upgrade" || fail "setcap $2 $1/kova-upgrade"
  fi
}
install_copy "$PROGRAMS/caps" "$CAPS"
install_copy "$PROGRAMS/plain"
install_copy "$PROGRAMS/admin" cap_net_admin=ep
[ "$(getcap "$PROGRAMS/caps/kova-upgrade")" = "$PROGRAMS/caps/kova-upgrade $CAPS" ] ||
  fail "the copy has '$(getcap "$PROGRAMS/caps/kova-upgrade")'"

# Programs run as a user are started through a shell: setpriv keeps root's
# capabilities up to its own exec, which would pass any file mode; the shell
# it starts has none, as after a login.

# run_as USER PROGRAM OUT [arguments]: as run_cli, as USER; sets CLI_RC.
run_as() {
  local user=$1 program=$2
  LAST_OUT=$3
  shift 3
  # shellcheck disable=SC2016 # the inner sh expands them
  topo_host timeout -k 5 90 setpriv --reuid "$user" --regid nogroup --init-groups \
    sh -c 'exec "$0" "$@"' "$program" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" "$@" \
    >"$LAST_OUT" 2>&1
  CLI_RC=$?
  check_no_leftovers
}

MISSING_NET_ADMIN="    Missing capability cap_net_admin (needed for the board's neighbour entry) ! "
DENIED="[Warining...] ERROR_ACCESS_DENIED (User is not Administrator) !"
write_config "$WORK/job" DISABLE
write_image "$WORK/job" old
chmod -R a+rX "$WORK/job"

# 1. a member of the group, the copy with the capabilities: the whole upgrade,
# by a process of the member's that holds those two capabilities and no other
start_board board --platform old --start-in bootloader --flash-file "$WORK/board.flash"
LAST_OUT=$WORK/member.out
# shellcheck disable=SC2016 # the inner sh expands them
ip netns exec "$TOPO_HOST_NS" setpriv --reuid "$MEMBER" --regid nogroup --init-groups \
  sh -c 'exec "$0" "$@"' "$PROGRAMS/caps/kova-upgrade" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" \
  -m "$TOPO_BOARD_MAC" -C "$WORK/job" upgrade >"$LAST_OUT" 2>&1 &
CLI_PID=$!
seen=
for _ in $(seq 500); do
  status=$(cat "/proc/$CLI_PID/status" 2>/dev/null) || break
  if grep -q '^Name:[[:space:]]*kova-upgrade$' <<<"$status"; then
    seen=$(awk '/^Uid:/ {print $2} /^CapEff:/ {print $2}' <<<"$status" | paste -sd' ')
    break
  fi
  sleep 0.01
done
finish_cli
[ "$seen" = "$(id -u "$MEMBER") $CAPS_EFFECTIVE" ] ||
  fail "the upgrade ran as uid/CapEff '$seen', expected '$(id -u "$MEMBER") $CAPS_EFFECTIVE'"
expect_rc 0
expect_line "[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
expect_line "======(7). Program ... Successful !======Successful !======"
stop_board board
expect_flash board "$WORK/job/app.bin"
expect_report board 'report["isp"]["problem_count"]' 0

# 2. a user outside the group: the file mode refuses to start the program
start_board board --platform old --start-in bootloader
run_as "$OUTSIDER" "$PROGRAMS/caps/kova-upgrade" "$WORK/outsider.out" -m "$TOPO_BOARD_MAC" \
  -C "$WORK/job" upgrade
expect_rc 126
grep -q "Permission denied" "$LAST_OUT" || fail "no 'Permission denied'"
stop_board board
expect_report board 'len(received)' 0

# 3. a member, the copy without capabilities: the host's refusal, then which
# capability is missing and the setcap line that gives it
start_board board --platform old --start-in bootloader
run_as "$MEMBER" "$PROGRAMS/plain/kova-upgrade" "$WORK/plain.out" -m "$TOPO_BOARD_MAC" \
  -C "$WORK/job" upgrade
expect_rc 1
expect_line "$DENIED"
expect_line "${MISSING_NET_ADMIN}Give the program its capabilities: sudo setcap $CAPS \
$PROGRAMS/plain/kova-upgrade (the kova-upgrade package does this at installation, for the \
members of the group kova-upgrade)"
expect_line "[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"
stop_board board
expect_report board 'len(report["isp"]["copies"]), len(report["isp"]["erases"])' "(0, 0)"

# 4. a member, the copy with the capabilities on a nosuid mount (a private
# one, in the mount namespace `ip netns exec` gives the run): no capability
# reaches the process, and the message says why
mkdir -p "$PROGRAMS/nosuid"
start_board board --platform old --start-in bootloader
LAST_OUT=$WORK/nosuid.out
# shellcheck disable=SC2016 # the inner sh expands them
topo_host timeout -k 5 90 sh -c '
  mount -t tmpfs -o nosuid,mode=0755 kova-e2e "$1" && cp "$2" "$1/kova-upgrade" &&
    chown "root:$3" "$1/kova-upgrade" && chmod 0750 "$1/kova-upgrade" &&
    setcap "$4" "$1/kova-upgrade" || exit 99
  program=$1/kova-upgrade user=$5
  shift 5
  exec setpriv --reuid "$user" --regid nogroup --init-groups sh -c "exec \"\$0\" \"\$@\"" \
    "$program" "$@"' \
  - "$PROGRAMS/nosuid" "$CLI" "$GROUP" "$CAPS" "$MEMBER" -i "$TOPO_HOST_IF" \
  --tick-ms "$TICK_MS" -m "$TOPO_BOARD_MAC" -C "$WORK/job" upgrade >"$LAST_OUT" 2>&1
CLI_RC=$?
check_no_leftovers
[ "$CLI_RC" -ne 99 ] || fail "could not make the nosuid copy"
expect_rc 1
expect_line "$DENIED"
expect_line "${MISSING_NET_ADMIN}$PROGRAMS/nosuid/kova-upgrade is on a nosuid mount, where file \
capabilities have no effect: run a copy on another file system, or the installed program (the \
kova-upgrade package gives it its capabilities, for the members of the group kova-upgrade)"
stop_board board
mountpoint -q "$PROGRAMS/nosuid" && fail "the nosuid mount outlived the run"

# 5. a member, the copy without capabilities, a board in its application
# (ENABLE): refused before the board hears a thing, no jump, and the last
# line says why
write_config "$WORK/jump" ENABLE
write_image "$WORK/jump" old
chmod -R a+rX "$WORK/jump"
start_board board --platform old
run_as "$MEMBER" "$PROGRAMS/plain/kova-upgrade" "$WORK/jump.out" -m "$TOPO_BOARD_MAC" \
  -C "$WORK/jump" upgrade
expect_rc 1
expect_line "$DENIED"
[ "$(tail -n 1 "$LAST_OUT")" = "kova-upgrade: failed: this process may not change the host's \
neighbour table (neighbour-denied)" ] || fail "the last line is not why"
stop_board board
expect_report board 'len(received)' 0

# 6. a member, a copy with cap_net_admin alone, a new-platform board: the boot
# server's port is refused right after the platform box, before the jump
write_config "$WORK/new" ENABLE
write_new_image "$WORK/new" 2048
chmod -R a+rX "$WORK/new"
start_board board --platform new
run_as "$MEMBER" "$PROGRAMS/admin/kova-upgrade" "$WORK/new.out" -m "$TOPO_BOARD_MAC" \
  -C "$WORK/new" upgrade
expect_rc 1
expect_line "[... KOVA checkcode] New platform"
expect_line "    Boot server: cannot open the BOOTP port 67 on $TOPO_HOST_IF (another DHCP or BOOTP \
server may hold the port) ! "
grep -qF "    Missing capability cap_net_bind_service (needed for the boot server's ports 67 and \
69) ! " "$LAST_OUT" || fail "no word of the missing cap_net_bind_service"
expect_line "kova-upgrade: failed: this process may not open the boot server's ports (port-denied)"
expect_no_line "======KOVA : Jump to Bootloader ... Successful !======"
stop_board board
expect_report board 'sorted({r.get("command") for r in received})' "['E2P_READ']"
echo "PASS"
