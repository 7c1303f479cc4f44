# Helpers for the scripts that try the project on a fresh Debian 12 root. Sourced in a mount
# namespace of its own (unshare --mount), so the root's mounts go when the script ends.
# Sourced after shell/gui_test_lib.sh. make_fresh_root makes $root; on exit the test programs end
# (cleanup), then remove_root ends whatever still runs there and removes it, unless KEEP_ROOT is
# set. DEBIAN_MIRROR chooses the mirror.

root=$(mktemp -d /var/tmp/tessivane-root.XXXXXX)
chmod 755 "$root"

# in_root COMMAND...: runs COMMAND as root in the fresh root, with a clean environment.
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root \
    DEBIAN_FRONTEND=noninteractive ${DISPLAY:+DISPLAY=$DISPLAY} "$@"
}

# make_fresh_root LOG: debootstrap (minbase) with Debian's own sources, and the mounts programs
# expect. The root keeps the device nodes debootstrap made, so its package scripts never reach
# this machine's /dev. This machine's X server, if any, is reachable from the root.
make_fresh_root() {
  local mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
  echo "== a fresh Debian 12 root (debootstrap, minbase) in $root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$1" 2>&1 ||
    { tail -20 "$1"; echo "FAILED: debootstrap"; return 1; }
  cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc"
  mount -t sysfs sys "$root/sys"
  mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=666 devpts "$root/dev/pts"
  if [ -d /tmp/.X11-unix ]; then
    mkdir -p "$root/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  fi
  in_root apt-get update -qq
}

remove_root() {
  local proc mount
  for proc in /proc/[0-9]*; do  # whatever still runs in the root, WebKit's processes included
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ]; then
      kill -KILL "${proc#/proc/}" 2>/dev/null || true
    fi
  done
  for mount in $(findmnt -rno TARGET | grep -F "$root/" | sort -r); do umount -l "$mount"; done
  if [ -n "${KEEP_ROOT:-}" ]; then
    echo "root kept in $root"
  elif ! findmnt -rno TARGET | grep -qF "$root/"; then
    rm -rf --one-file-system "$root"
  fi
}

finish() {
  cleanup
  remove_root
}
trap finish EXIT
