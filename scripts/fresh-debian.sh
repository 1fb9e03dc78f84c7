#!/usr/bin/env bash
# Runs the README's two commands as a newcomer would, on a fresh minimal
# Debian: a root made with debootstrap --variant=minbase, then only git and
# ca-certificates, then this repository cloned into it. In one copy of that
# root it runs ./build.sh run until Pelmora's window is up, then ends it; in
# another, fresh copy it runs ./build.sh test. It prints how long each took.
# After run, it also runs ./build.sh release in the first root, and prints
# the zip's SHA-256.
#
#   scripts/fresh-debian.sh RELEASE [--windows-runs N] [--refuse-32-bit]
#
# RELEASE is a Debian code name: bookworm (12) or trixie (13). With
# --windows-runs N, the Windows suites then run N more times in the test root
# (ctest --preset windows64 -j 2, then --preset windows) and each result is
# printed. With --refuse-32-bit, both commands are given a Wine 32-bit loader
# that the kernel refuses as one without 32-bit support refuses Wine's own
# (PELMORA_WINE32_LOADER, an ELF for another processor), for a machine whose
# kernel does run 32-bit code.
#
# Needs root. Debian is reached through the mirror this machine's apt already
# uses. Everything it mounts or starts is undone on exit, even when
# interrupted, and only processes whose root is the new root are ended. The
# logs stay in /var/tmp (the last line says where).
set -euo pipefail

release=${1:-}
shift || true
windows_runs=0
refuse_32_bit=0
while [ $# -gt 0 ]; do
  case "$1" in
    --windows-runs) windows_runs=${2:?--windows-runs needs a count}; shift 2 ;;
    --refuse-32-bit) refuse_32_bit=1; shift ;;
    *) release=usage; break ;;
  esac
done
case "$release" in
  bookworm | trixie) ;;
  *)
    echo "usage: $0 bookworm|trixie [--windows-runs N] [--refuse-32-bit]" >&2
    exit 2
    ;;
esac
[ "$(id -u)" = 0 ] || { echo "$0 needs root (it runs debootstrap and chroot)" >&2; exit 1; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
. "$source_dir/scripts/lib.sh"

say() { printf '\n== %s\n' "$*"; }
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }'; }
minutes() { awk -v s="$1" 'BEGIN { printf "%d min %02d s", s / 60, s % 60 }'; }

# The mirrors this machine's apt uses, as "site suite" pairs with the
# machine's own release name replaced by the one asked for.
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror_lines=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 'Identifier: Packages' 2>/dev/null |
  awk -v host="$host_release" -v want="$release" '
    $2 == host || index($2, host "-") == 1 { sub("^" host, want, $2); print $1, $2 }' | sort -u)
mirror=$(awk -v want="$release" '$2 == want { print $1; exit }' <<<"$mirror_lines")
if [ -z "$mirror" ]; then
  echo "cannot tell which Debian mirror apt uses here (looked for suite $host_release)" >&2
  exit 1
fi

if ! command -v debootstrap >/dev/null; then
  say "Installing debootstrap on this machine"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

work=$(mktemp -d "/var/tmp/pelmora-fresh-$release.XXXXXX")
logs=$(mktemp -d "/var/tmp/pelmora-fresh-$release-logs.XXXXXX")
base="$work/base"
root="$work/root"

# Processes whose root directory is the given one: the chroot's and nothing else.
processes_in() {
  local target=$1 proc pid
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$target" ] && echo "$pid"
  done
  return 0
}

end_processes_in() {
  local target=$1 pids
  pids=$(processes_in "$target")
  [ -z "$pids" ] && return 0
  kill -TERM $pids 2>/dev/null || true
  for _ in $(seq 50); do
    pids=$(processes_in "$target")
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  kill -KILL $pids 2>/dev/null || true
  sleep 0.5
}

mounts_under() {
  awk -v dir="$1/" 'index($5 "/", dir) == 1 { print $5 }' /proc/self/mountinfo | sort -r
}

unmount_under() {
  local mountpoint
  for mountpoint in $(mounts_under "$1"); do
    umount "$mountpoint" 2>/dev/null || umount -l "$mountpoint" 2>/dev/null || true
  done
}

cleanup() {
  set +e
  trap - EXIT INT TERM HUP
  for dir in "$root" "$base"; do
    [ -d "$dir" ] && end_processes_in "$dir"
  done
  unmount_under "$work"
  if [ -n "$(mounts_under "$work")" ]; then
    echo "still mounted, so $work is left in place:" >&2
    mounts_under "$work" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mount_system() {
  local dir=$1
  mount -t proc proc "$dir/proc"
  mount -t sysfs sysfs "$dir/sys"
  mount --bind /dev "$dir/dev"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$dir/dev/pts"
  mount -t tmpfs tmpfs "$dir/dev/shm"
}

# A clean environment, as root's login shell would have it.
refused_loader=()
[ "$refuse_32_bit" = 1 ] && refused_loader=(PELMORA_WINE32_LOADER=/root/refused-wine32-loader)
in_root() {
  local dir=$1
  shift
  chroot "$dir" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb "${refused_loader[@]}" "$@"
}

say "Making a minimal Debian $release root (debootstrap --variant=minbase, mirror $mirror)"
started=$(now)
debootstrap --variant=minbase "$release" "$base" "$mirror" >"$logs/debootstrap.log" 2>&1 ||
  { tail -20 "$logs/debootstrap.log" >&2; exit 1; }
# The suites this machine uses (release, updates, security), for the new release.
while read -r site suite; do
  echo "deb $site $suite main"
done <<<"$mirror_lines" >"$base/etc/apt/sources.list"
cp /etc/resolv.conf "$base/etc/resolv.conf"
# Packages' maintainer scripts must not start services on this machine.
printf '#!/bin/sh\nexit 101\n' >"$base/usr/sbin/policy-rc.d"
chmod +x "$base/usr/sbin/policy-rc.d"
mount_system "$base"
in_root "$base" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends git ca-certificates' \
  >"$logs/base-packages.log" 2>&1 || { tail -20 "$logs/base-packages.log" >&2; exit 1; }
unmount_under "$base"
echo "root ready in $(minutes "$(seconds_since "$started")"): $(cat "$base/etc/debian_version"), $(du -sh --one-file-system "$base" | cut -f1)"

if [ -n "$(git -C "$source_dir" status --porcelain)" ]; then
  echo "note: $source_dir has uncommitted changes; the root gets the last commit only"
fi
commit=$(git -C "$source_dir" rev-parse --short HEAD)

# A fresh copy of the base root with this repository cloned into /root/pelmora.
fresh_root() {
  end_processes_in "$root"
  unmount_under "$root"
  rm -rf --one-file-system "$root"
  cp -a "$base" "$root"
  mount_system "$root"
  mkdir -p "$root/mnt/pelmora-source"
  mount --bind "$source_dir" "$root/mnt/pelmora-source"
  mount -o remount,bind,ro "$root/mnt/pelmora-source"
  in_root "$root" git clone -q /mnt/pelmora-source /root/pelmora
  umount "$root/mnt/pelmora-source"
  pelmora_forge_refused_loader "$root/bin/true" "$root/root/refused-wine32-loader"
}

# Whether Pelmora's main window is up and visible in the run root: Wine's
# debugger lists the windows of the prefix that build.sh made, once it has
# made it, for the 32-bit Pelmora.exe or, where this kernel runs no 32-bit
# code, the 64-bit one.
window_is_up() {
  local exe
  for exe in build/windows/Pelmora.exe build/windows64/Pelmora.exe; do
    [ -f "$root/root/pelmora/$exe" ] || continue
    in_root "$root" sh -c "cd /root/pelmora && cmake/wine-run.sh --kind-of $exe --if-ready winedbg.exe --command 'info wnd'" \
      2>/dev/null | pelmora_window_listed && return 0
  done
  return 1
}

say "1. ./build.sh run, as the first command in a fresh root (commit $commit)"
fresh_root
started=$(now)
in_root "$root" sh -c 'cd /root/pelmora && ./build.sh run' >"$logs/run.log" 2>&1 &
runner=$!
run_seconds=""
for _ in $(seq 3600); do
  if ! kill -0 "$runner" 2>/dev/null; then
    break
  fi
  if window_is_up; then
    run_seconds=$(seconds_since "$started")
    break
  fi
  sleep 1
done
if [ -z "$run_seconds" ]; then
  tail -30 "$logs/run.log" >&2
  echo "FAILED: Pelmora's window did not come up (log: $logs/run.log)" >&2
  exit 1
fi
echo "Pelmora's window is up after $(minutes "$run_seconds"); ending it"
end_processes_in "$root"
wait "$runner" 2>/dev/null || true
versions=$(in_root "$root" sh -c 'echo "Wine $(dpkg-query -W -f "\${Version}" wine)"; x86_64-w64-mingw32-g++-posix -dumpfullversion; cmake --version | head -1' | paste -sd ' ')
run_started=$(grep -m 1 '^== Starting' "$logs/run.log" || true)
started=$(now)
in_root "$root" sh -c 'cd /root/pelmora && ./build.sh release' >"$logs/release.log" 2>&1 ||
  { tail -30 "$logs/release.log" >&2; echo "FAILED: ./build.sh release (log: $logs/release.log)" >&2; exit 1; }
echo "./build.sh release after run: $(minutes "$(seconds_since "$started")")"
zip_sum=$(cd "$root/root/pelmora/dist" && sha256sum Pelmora-*-win32.zip Pelmora-*-win64.zip | paste -sd ' ')

say "2. ./build.sh test, as the first command in another fresh root"
fresh_root
started=$(now)
status=0
in_root "$root" sh -c 'cd /root/pelmora && ./build.sh test' >"$logs/test.log" 2>&1 || status=$?
test_seconds=$(seconds_since "$started")
grep -E '^== |tests passed|tests failed|suite skipped' "$logs/test.log" || true
if [ "$status" != 0 ]; then
  tail -40 "$logs/test.log" >&2
  echo "FAILED: ./build.sh test exited with $status after $(minutes "$test_seconds") (log: $logs/test.log)" >&2
  exit 1
fi
warnings=$(grep -cE 'warning:|CMake Warning' "$logs/test.log" || true)
exe_sum=$(cd "$root/root/pelmora/build" && sha256sum windows/Pelmora.exe windows64/Pelmora.exe | paste -sd ' ')
clang_version=$(in_root "$root" clang --version | head -1)

passes=0
for run in $(seq "$windows_runs"); do
  result=$(in_root "$root" bash -c '
    cd /root/pelmora
    . scripts/lib.sh
    pelmora_start_xvfb
    ctest --preset windows64 -j 2 >/tmp/windows-run.log 2>&1 &&
      ctest --preset windows -j 2 >>/tmp/windows-run.log 2>&1
    status=$?
    kill $pelmora_xvfb_pid
    grep "tests passed" /tmp/windows-run.log | paste -sd " "
    grep -c "(Skipped)" /tmp/windows-run.log | sed "s/$/ skipped/"
    grep -E "^[[:space:]]+[0-9]+ - " /tmp/windows-run.log
    cat /tmp/windows-run.log >&2
    exit $status' 2>"$logs/windows-run-$run.log") && passes=$((passes + 1))
  echo "Windows suite, run $run of $windows_runs: $result"
done

say "Debian $release, commit $commit: both commands work"
echo "versions: $versions; $clang_version"
echo "first ./build.sh run until the window is up: $(minutes "$run_seconds") ($run_started)"
echo "first ./build.sh test, passed: $(minutes "$test_seconds"); lines mentioning a warning: $warnings"
[ "$windows_runs" != 0 ] && echo "Windows suite again: $passes of $windows_runs runs passed"
echo "Pelmora.exe SHA-256: $exe_sum"
echo "release zip SHA-256: $zip_sum"
echo "logs: $logs"
[ "$passes" = "$windows_runs" ]
