# Sourced by wine-check.sh --32: a 32-bit Wine for machines whose kernel runs
# no 32-bit programs. qemu-i386 (user mode, registered with binfmt_misc) runs
# the i386 executables of a Debian chroot that holds Wine. The chroot and its
# Wine prefix are kept in W32_CACHE between runs; a stamp file marks each
# finished stage, so an interrupted run starts that stage over. Every step is
# bounded by a timeout and names itself when it fails. Needs root.
#
# Multiarch Wine on the host (dpkg --add-architecture i386) would be lighter,
# but it breaks whenever Debian's i386 and amd64 indexes are out of step; the
# chroot takes all of its packages from one architecture.

W32_CACHE=${NORV_WINE32_CACHE:-/var/cache/norvavi-wine32}
W32_ROOT=$W32_CACHE/chroot
W32_PREFIX=/root/.wine-norv # inside the chroot
W32_SUITE=bookworm
W32_MIRROR=${NORV_WINE32_MIRROR:-http://deb.debian.org/debian}

w32_fail() {  # step, message
  echo "wine-check --32: step '$1' failed: $2" >&2
  exit 3
}

w32_step() {  # name, seconds, command...
  local name=$1 limit=$2 start=$SECONDS code=0
  shift 2
  echo "wine-check --32: $name"
  # In a shell of its own, so a function can be the command too.
  timeout --kill-after=30 "$limit" bash -c '"$@"' bash "$@" || code=$?
  if [ $code = 124 ] || [ $code = 137 ]; then
    w32_fail "$name" "no result after ${limit}s"
  elif [ $code != 0 ]; then
    w32_fail "$name" "exit status $code"
  fi
  echo "wine-check --32: $name took $((SECONDS - start))s"
}

w32_host_packages() {
  local missing=() p
  for p in qemu-user-static debootstrap xvfb xauth; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} = 0 ] && return 0
  DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
      >/dev/null
}

# qemu-i386 for 32-bit x86 ELF executables. The F flag has the kernel open the
# emulator now, so it runs inside the chroot without a copy there.
w32_binfmt() {
  local dir=/proc/sys/fs/binfmt_misc entry
  [ -e $dir/register ] || mount -t binfmt_misc binfmt_misc $dir || return 1
  entry=$dir/qemu-i386
  if [ -e $entry ] && ! grep -q '^flags:.*F' $entry; then
    echo -1 >$entry # registered without F: useless in a chroot
  fi
  if [ ! -e $entry ]; then
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F' "$magic" "$mask" >$dir/register ||
      return 1
  fi
  grep -q '^enabled' $entry
}

w32_debootstrap() {
  # Never remove a tree that still has the host's /dev or /sys mounted in it.
  if grep -q " $W32_ROOT/" /proc/mounts; then
    echo "file systems are still mounted under $W32_ROOT" >&2
    return 1
  fi
  rm -rf "$W32_ROOT"
  mkdir -p "$W32_ROOT"
  debootstrap --arch=i386 --variant=minbase $W32_SUITE "$W32_ROOT" "$W32_MIRROR" \
    >"$W32_CACHE/debootstrap.log" 2>&1 || { tail -20 "$W32_CACHE/debootstrap.log" >&2; return 1; }
  touch "$W32_CACHE/debootstrap.done"
}

w32_mount() {  # what, where (inside the chroot), mount options...
  local target=$W32_ROOT$2 what=$1
  shift 2
  mkdir -p "$target"
  mountpoint -q "$target" || mount "$@" "$what" "$target"
}

w32_unmount() {
  local target
  for target in /tmp/.X11-unix /sys /dev /proc; do
    mountpoint -q "$W32_ROOT$target" && umount -R -l "$W32_ROOT$target"
  done
  return 0
}

w32_mount_all() {
  w32_mount proc /proc -t proc &&
    w32_mount /dev /dev --rbind &&
    w32_mount /sys /sys --rbind &&
    # The X server's socket, for the dialog check.
    mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix &&
    w32_mount /tmp/.X11-unix /tmp/.X11-unix --bind &&
    cp /etc/resolv.conf "$W32_ROOT/etc/resolv.conf"
}

w32_chroot() {  # command... : runs in the chroot, in /norv/work
  chroot "$W32_ROOT" /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin \
    LANG=C.UTF-8 WINEPREFIX=$W32_PREFIX WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} \
    WINEDLLOVERRIDES='mscoree,mshtml=' ${DISPLAY:+DISPLAY=$DISPLAY} \
    ${XAUTHORITY:+XAUTHORITY=/norv/xauth} /bin/sh -c 'cd /norv/work 2>/dev/null; exec "$@"' sh "$@"
}

w32_install_wine() {
  w32_chroot sh -c 'export DEBIAN_FRONTEND=noninteractive &&
    apt-get update -qq &&
    apt-get install -y -qq --no-install-recommends wine wine32' \
    >"$W32_CACHE/apt.log" 2>&1 || { tail -20 "$W32_CACHE/apt.log" >&2; return 1; }
  touch "$W32_CACHE/wine.done"
}

# The prefix's first boot is slow under emulation, and a second Wine process
# started while it runs can hang; so it runs alone, once, and everything
# waits for its wineserver to finish. A Wine helper has been seen to crash
# during the first boot and make wineboot fail although the prefix came out
# whole, so the prefix itself is checked; one retry when it is not.
w32_boot_once() {
  w32_chroot sh -c "rm -rf $W32_PREFIX; wine wineboot -i; echo wineboot: exit status \$?;
    wineserver -w" >>"$W32_CACHE/wineboot.log" 2>&1
  [ -s "$W32_ROOT$W32_PREFIX/system.reg" ] &&
    [ -e "$W32_ROOT$W32_PREFIX/drive_c/windows/system32/kernel32.dll" ]
}
# Ends every process running in the chroot (Wine's helpers outlive a
# failed boot), found by its root directory.
w32_stop_processes() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$W32_ROOT" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  return 0
}
w32_boot() {
  w32_boot_once || { w32_stop_processes; sleep 2; w32_boot_once; } ||
    { tail -20 "$W32_CACHE/wineboot.log" >&2; return 1; }
  touch "$W32_CACHE/prefix.done"
}

w32_prepare() {
  [ "$(id -u)" = 0 ] || w32_fail prepare "needs root (chroot, mount, binfmt_misc)"
  mkdir -p "$W32_CACHE"
  exec 8>"$W32_CACHE/lock"
  flock -w 5 8 || w32_fail lock "another wine-check --32 is using $W32_CACHE"
  w32_step "host packages (qemu-user-static, debootstrap, xvfb)" 900 w32_host_packages
  w32_step "register qemu-i386 with binfmt_misc" 60 w32_binfmt
  if [ ! -e "$W32_CACHE/debootstrap.done" ]; then
    rm -f "$W32_CACHE/wine.done" "$W32_CACHE/prefix.done"
    w32_unmount
    w32_step "debootstrap i386 $W32_SUITE into $W32_ROOT" 1800 w32_debootstrap
  fi
  w32_step "run an i386 program in the chroot" 120 chroot "$W32_ROOT" /bin/true
  trap 'w32_stop_processes; w32_unmount; rm -rf "$work"' EXIT
  w32_step "mount /proc, /dev and /sys in the chroot" 60 w32_mount_all
  if [ ! -e "$W32_CACHE/wine.done" ]; then
    rm -f "$W32_CACHE/prefix.done"
    w32_step "apt-get install wine wine32 in the chroot" 1800 w32_install_wine
  fi
  if [ ! -e "$W32_CACHE/prefix.done" ]; then
    w32_step "first boot of the Wine prefix (wineboot, wineserver -w)" 2400 w32_boot
  fi
  mkdir -p "$W32_ROOT/norv"
  rm -rf "$W32_ROOT/norv/work" "$W32_ROOT/norv/bin"
  mkdir -p "$W32_ROOT/norv/work" "$W32_ROOT/norv/bin"
}

export W32_CACHE W32_ROOT W32_PREFIX W32_SUITE W32_MIRROR
export -f w32_host_packages w32_binfmt w32_debootstrap w32_mount w32_mount_all w32_chroot \
  w32_install_wine w32_boot_once w32_stop_processes w32_boot
