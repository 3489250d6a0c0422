#!/usr/bin/env bash
# The Debian package on a booted Debian 12: a minimal tree made by debootstrap
# (once per machine, kept under /var/cache/tavro-boot, keyed by its recipe),
# booted with systemd-nspawn on a throw-away overlay, without network. snmpd
# is installed and started first, as on most hosts, then the package with
# apt-get, non-interactively; then the services, the simulated adapters'
# drop-in, SNMP reads of both views by "public", the agents' debug log, the
# metrics file, an upgrade and a purge, with no failed unit at any step.
#
#   boot_test.sh BUILD_DIR SOURCE_DIR
#
# Exit status 77 (skipped) when the tree cannot be made or booted here.
set -euo pipefail
build=$1 source=$2
cache=${TAVRO_BOOT_CACHE:-/var/cache/tavro-boot}
mirror=http://deb.debian.org/debian
start=$SECONDS

note() { printf '[%3ds] %s\n' $((SECONDS - start)) "$*"; }
skip() {
  note "SKIPPED: $*"
  exit 77
}
fail() {
  note "FAILED: $*"
  exit 1
}

[ "$(id -u)" = 0 ] || skip "needs root"
for tool in debootstrap systemd-nspawn nsenter dpkg-deb cpack; do
  command -v $tool >/dev/null || skip "$tool is not installed (scripts/deps --test)"
done

# --- The package, and the same with a higher version for the upgrade.
work=$(mktemp -d /tmp/tavro-boot.XXXXXX)
box=$work/box
cleanup() {
  [ -n "${nspawn:-}" ] && kill "$nspawn" 2>/dev/null && wait "$nspawn" 2>/dev/null
  mountpoint -q "$box" && umount "$box"
  rm -rf "$work"
}
trap cleanup EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null)
deb=$(echo "$work"/out/tavro_*.deb)
dpkg-deb -R "$deb" "$work/next"
sed -i 's/^Version: .*/&+1/' "$work/next/DEBIAN/control"
dpkg-deb -b "$work/next" "$work/tavro-next.deb" >/dev/null
note "package built: $(basename "$deb")"

# A package configured without a preset installs to the same places.
cmake -S "$source" -B "$work/plain" -G Ninja >/dev/null
if grep -rl --include=cmake_install.cmake /usr/local "$work/plain" >/dev/null; then
  fail "a plain configuration installs under /usr/local: $(grep -rh /usr/local "$work/plain" --include=cmake_install.cmake | head -3)"
fi

# --- The tree: made once, reused while its recipe stays the same.
packages=systemd,systemd-sysv,dbus,libpam-systemd
sources="deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main"
key=$(printf '%s\n' bookworm minbase "$packages" "$sources" | sha256sum | cut -c1-16)
tree=$cache/bookworm-$key
mkdir -p "$cache/archives/partial"
exec 9>"$cache/lock"
flock 9
if [ ! -e "$tree/ready" ]; then
  note "making the Debian tree $tree (once per machine)"
  rm -rf "$tree.new"
  debootstrap --variant=minbase --include="$packages" --cache-dir="$cache/archives" \
    bookworm "$tree.new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    skip "debootstrap could not make the tree (see $cache/debootstrap.log)"
  printf '%s\n' "$sources" >"$tree.new/etc/apt/sources.list"
  echo tavro-box >"$tree.new/etc/hostname"
  chroot "$tree.new" apt-get update -qq >>"$cache/debootstrap.log" 2>&1 ||
    skip "apt-get update failed in the tree (see $cache/debootstrap.log)"
  touch "$tree.new/ready"
  mv "$tree.new" "$tree"
  note "tree made"
else
  note "tree reused: $tree"
fi

# --- A throw-away overlay over the tree; apt's downloads are kept.
mkdir -p "$work/upper" "$work/overlay-work" "$box"
mount -t overlay overlay \
  -o "lowerdir=$tree,upperdir=$work/upper,workdir=$work/overlay-work" "$box"
cp "$deb" "$box/root/tavro.deb"
cp "$work/tavro-next.deb" "$box/root/tavro-next.deb"
cp "$source/docs/install.md" "$box/root/install.md"
# The downloads need the network; the booted system has none of its own,
# and sees the kept downloads through an overlay of its own: apt locks its
# folder, and another boot test may be running beside this one.
download='apt-get install -qq --download-only -y snmpd snmp /root/tavro.deb'
systemd-nspawn -q -D "$box" --register=no --keep-unit --bind="$cache/archives:/var/cache/apt/archives" \
  --pipe sh -c "$download || { apt-get update -qq && $download; }" >"$work/download.log" 2>&1 || {
  cat "$work/download.log"
  skip "the packages could not be downloaded from $mirror"
}
flock -u 9
note "packages downloaded"
mkdir -p "$work/archives"
nspawn_args=(-q -D "$box" --register=no --keep-unit
  --overlay="$cache/archives:$work/archives:/var/cache/apt/archives")

systemd-nspawn "${nspawn_args[@]}" -b --private-network -M "tavro-box-$$" \
  >"$work/console.log" 2>&1 </dev/null &
nspawn=$!
leader=""
for _ in $(seq 1200); do
  # The container's init is nspawn's child (or its inner nspawn's).
  for parent in $nspawn $(pgrep -P $nspawn -x systemd-nspawn); do
    leader=${leader:-$(pgrep -P "$parent" -x systemd || true)}
  done
  [ -n "$leader" ] && break
  kill -0 $nspawn 2>/dev/null || break
  sleep 0.1
done
# Once the tree has booted on this machine, not booting is a failure.
[ -n "$leader" ] || {
  cat "$work/console.log"
  [ -e "$cache/booted" ] && fail "systemd-nspawn -b no longer boots the tree"
  skip "systemd-nspawn -b does not boot here"
}
touch "$cache/booted"
# Runs a command in the booted system, as root, with a clean environment.
in_box() {
  nsenter -t "$leader" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
for _ in $(seq 600); do
  in_box test -S /run/systemd/private -a -S /run/dbus/system_bus_socket && break
  sleep 0.1
done
state=$(in_box systemctl is-system-running --wait || true)
note "booted: $state"

checks=0 failures=0
check() {
  local what=$1
  shift
  checks=$((checks + 1))
  if out=$("$@" 2>&1); then
    note "ok: $what"
  else
    failures=$((failures + 1))
    note "NOT OK: $what"
    printf '%s\n' "$out" | sed 's/^/    /' | tail -20
  fi
}
box_sh() { in_box sh -c "$1"; }
no_failed_units() {
  box_sh 'failed=$(systemctl --failed --no-legend --plain | cut -d" " -f1)
    [ -z "$failed" ] || { for u in $failed; do journalctl -u "$u" -n 15 --no-pager; done; exit 1; }'
}
# A text command on the daemon's port, by bash's own TCP.
ask() { in_box bash -c "exec 3<>/dev/tcp/127.0.0.1/8781 && printf '%s\n' '$1' >&3 && cat <&3 | tr -d '\0'"; }
hbaapi_loaded() {
  ask 'HBAAPI 3.0' >/dev/null
  box_sh 'grep "HBA API Library loaded: /usr/lib/libHBAAPI.so.2" /var/log/tavro/tavro-events.log &&
    maps=/proc/$(systemctl show -P MainPID tavro)/maps &&
    grep -q /tavro/libtavrohba.so $maps && ! grep -q /sim/ $maps'
}
# Every "snmpget/snmpwalk ... -c public localhost" line of the installation guide.
guide_reads() {
  box_sh 'n=0
    for line in $(sed -n "s/^ *\(snmp[a-z]* -v2c -c public .*localhost [.0-9]*\).*/\1/p" /root/install.md | tr " " "~"); do
      command=$(echo "$line" | tr "~" " "); n=$((n + 1))
      $command >/tmp/read 2>&1 && head -1 /tmp/read | grep -v "No Such\|No more" | grep -q "^[.a-zA-Z]" ||
        { echo "$command:"; cat /tmp/read; exit 1; }
    done
    [ $n -ge 2 ] || { echo "only $n read commands in the guide"; exit 1; }'
}
# Owners and modes as tests/e2e/packaging/installed.txt lists them.
installed_as_listed() {
  local want
  want=$(grep -v '^#' "$source/tests/e2e/packaging/installed.txt")
  diff <(printf '%s\n' "$want") <(box_sh "stat -c '%U:%G %a %n' $(printf '%s\n' "$want" | cut -d' ' -f3 | tr '\n' ' ')")
}
answers_rev() { [ "$(ask REV)" = "3.3 Build 43" ]; }
walk() { box_sh "snmpwalk -v2c -c public -On localhost $1 | tee /tmp/walk | grep -v 'No Such' | wc -l | grep -qxE '[0-9]{2,}' || { cat /tmp/walk; exit 1; }"; }

check "snmpd installed and running first" box_sh \
  'apt-get install -qq -y snmpd snmp </dev/null >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }; systemctl is-active snmpd'
note "before tavro: /var/agentx is $(box_sh 'stat -c "%a %U:%G" /var/agentx')"
check "apt-get installs the package non-interactively" box_sh \
  'apt-get install -y /root/tavro.deb </dev/null >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }'
check "libhbaapi2's /etc/hba.conf is untouched" box_sh \
  '! grep -q tavro /etc/hba.conf && dpkg --verify libhbaapi2'
check "the daemon runs" in_box systemctl is-active tavro.service
check "the daemon's /etc/hba.conf adds tavro's vendor library" box_sh \
  'nsenter -t $(systemctl show -P MainPID tavro) -m grep -x "org.tavro-project.tavrohba /usr/lib/x86_64-linux-gnu/tavro/libtavrohba.so" /etc/hba.conf'
check "HBAAPI loads the system's common library and tavro's vendor library" hbaapi_loaded
# The kernel's FC transport events (RSCN, LIP, FPIN) come only by netlink: the
# daemon holds that socket, or says why not, and not because of its sandbox.
check "the sandbox lets the daemon open the kernel's FC event socket" box_sh \
  'pid=$(systemctl show -P MainPID tavro)
   fds=$(ls -l /proc/$pid/fd | sed -n "s/.*socket:\[\([0-9]*\)\]$/\1/p")
   awk "\$2 == 18 { print \$10 }" /proc/$pid/net/netlink | grep -qxF "$fds" && exit 0
   grep "FC transport events" /var/log/tavro/tavro-events.log | tee /dev/stderr | grep -qv "Address family"'
check "suspend does not wait: logind refuses the service user's delay lock" box_sh \
  'grep "No sleep delay lock: suspend may not wait - error(13)" /var/log/tavro/tavro-events.log'

# The administrator switches the agents' debug log on.
box_sh 'install -o tavro -g tavro -m 640 /dev/null /var/log/tavro/qsnmpdbg.log' || true
check "the simulated adapters' drop-in, both services restarted" box_sh \
  'for unit in tavro tavro-snmpd-bridge; do
     install -D -m 644 /usr/share/tavro/simulated-adapters.conf /etc/systemd/system/$unit.service.d/simulated-adapters.conf
   done
   systemctl daemon-reload && systemctl restart tavro && systemctl enable --now tavro-snmpd-bridge 2>/dev/null &&
   tavroctl status --json | grep -q "\"adapters\": 2" || { tavroctl status --json; exit 1; }'
check "the daemon answers on its port" answers_rev
check "the bridge reaches snmpd" box_sh \
  'for i in $(seq 100); do journalctl -u tavro-snmpd-bridge | grep -q "stdagent: registered" && exit 0; sleep 0.1; done; journalctl -u tavro-snmpd-bridge; ls -la /var/agentx; exit 1'
check "public reads the private tree" walk .1.3.6.1.4.1.48217.3
check "public reads the Fibre Alliance MIB" walk .1.3.6.1.3.94
check "the installation guide's SNMP read commands answer" guide_reads
check "the agents write their debug log under the sandbox" box_sh \
  'test -s /var/log/tavro/qsnmpdbg.log && grep -q qsnmpdbg.log /etc/logrotate.d/tavro'
check "the metrics timer's service writes the metrics file, readable by node_exporter" box_sh \
  'mkdir -p /var/lib/prometheus/node-exporter && systemctl start tavro-metrics.service &&
   grep -x "tavro_up 1" /var/lib/prometheus/node-exporter/tavro.prom &&
   stat -c %a /var/lib/prometheus/node-exporter/tavro.prom | grep -x 644'
check "owners and modes as listed" installed_as_listed
check "no failed unit after installation" no_failed_units

check "upgrade" box_sh \
  'apt-get install -y /root/tavro-next.deb </dev/null >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }
   systemctl is-active tavro tavro-snmpd-bridge && dpkg-query -W -f="\${Version}" tavro | grep -q "+1$"
   for unit in tavro tavro-snmpd-bridge; do
     ! readlink /proc/$(systemctl show -P MainPID $unit)/exe | grep deleted || exit 1
   done'
check "public reads the private tree after the upgrade" walk .1.3.6.1.4.1.48217.3
check "owners and modes as listed after the upgrade" installed_as_listed
check "no failed unit after the upgrade" no_failed_units

check "purge" box_sh \
  'apt-get purge -y tavro </dev/null >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }
   for gone in /etc/tavro /var/lib/tavro /var/log/tavro /etc/snmp/snmpd.conf.d/tavro.conf /usr/bin/tavro \
       /var/lib/prometheus/node-exporter/tavro.prom; do
     [ ! -e $gone ] || { echo "$gone is left"; exit 1; }
   done
   ! systemctl is-active tavro && systemctl is-active snmpd && test -S /var/agentx/master'
check "no failed unit after the purge" no_failed_units

note "$checks checks, $failures failed"
[ "$failures" = 0 ]
