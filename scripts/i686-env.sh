#!/usr/bin/env bash
# The machine that runs the i686 stub on this x86-64 host: a 32-bit Debian
# root holding Wine, whose programs run under qemu-user through binfmt_misc.
#
#   scripts/i686-env.sh prepare         make it (idempotent; prints each step's time)
#   scripts/i686-env.sh exec CMD [ARG]  run a host command inside it (see below)
#   scripts/i686-env.sh check           exit 0 when it is made and usable
#
# Everything lives in build/i686-env (or $SFX_I686_ENV):
#   debs/        the downloaded packages (a second `prepare` needs no network)
#   qemu-i386    qemu-user 10 from bookworm-backports, taken out of its .deb
#                (bookworm's own qemu 7.2 takes a minute per Windows process)
#   root/        an i386-only bookworm root with wine and wine32, unpacked
#                without running package scripts (mmdebstrap --variant=extract)
#   root/sfx/template   a 32-bit Wine prefix every test case copies
#
# `exec` runs CMD in a user and mount namespace of its own: there it mounts a
# private binfmt_misc instance (Linux 6.7 and later give each user namespace
# one) and registers qemu-i386 for i386 ELF programs, and binds /proc into the
# root. The host's binfmt_misc and mounts are never touched, so nothing has to
# be removed afterwards and concurrent runs cannot disturb each other: the
# entry disappears with the last process of the namespace. CMD sees
# SFX_I686_ROOT (the root's host path) and starts Windows programs with
#   chroot "$SFX_I686_ROOT" /usr/lib/wine/wine PROGRAM...
# with WINESERVER=/usr/lib/wine/wineserver32 (the root holds no shell, so
# Wine's shell wrappers are bypassed).
#
# Where the environment cannot be made or entered, it says why and exits 77
# (a skip for CTest), or 1 when CI=true: CI must not pass without these runs.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
env_dir=${SFX_I686_ENV:-$here/build/i686-env}
root=$env_dir/root
qemu=$env_dir/qemu-i386
template=$root/sfx/template

say() { echo "i686-env: $*" >&2; }
unavailable() {
  say "cannot run the i686 stub: $*"
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

# The Debian mirror apt is configured with (the archive of the release).
mirror() {
  local uri
  uri=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 'Identifier: Packages' 2>/dev/null |
        awk '$1 == "bookworm" {print $2; exit}')
  echo "${uri:-http://deb.debian.org/debian/}"
}

timed() {  # timed NAME COMMAND...: runs it and prints its wall time
  local name=$1 start end
  shift
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  say "$(awk -v n="$name" -v s="$start" -v e="$end" 'BEGIN { printf "%-9s %6.1f s", n, e - s }')"
}

need_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' && return
  say "installing $1"
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$1")
  "${install[@]}" >/dev/null 2>&1 || { apt-get update -qq && "${install[@]}" >/dev/null; } ||
    unavailable "apt-get install $1 failed"
}

# qemu-user 10 from bookworm-backports, through an apt configuration private
# to build/ (the host's sources stay as they are).
make_qemu() {
  [ -x "$qemu" ] && return
  local debs=$env_dir/debs apt=$env_dir/apt
  mkdir -p "$debs" "$apt/lists/partial" "$apt/cache/archives/partial"
  if ! ls "$debs"/qemu-user_*.deb >/dev/null 2>&1; then
    echo "deb $(mirror) bookworm-backports main" > "$apt/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1
                -o APT::Sandbox::User=root)
    apt-get "${opts[@]}" -qq update || unavailable "cannot reach the Debian archive (bookworm-backports)"
    (cd "$debs" && apt-get "${opts[@]}" -qq download qemu-user/bookworm-backports) ||
      unavailable "cannot download qemu-user from bookworm-backports"
  fi
  local tmp=$env_dir/qemu.tmp
  rm -rf "$tmp" && mkdir -p "$tmp"
  dpkg-deb --fsys-tarfile "$debs"/qemu-user_*.deb | tar -x -C "$tmp" ./usr/bin/qemu-i386
  "$tmp/usr/bin/qemu-i386" --version | grep -q 'version 10\.' || unavailable "the qemu-user package is not version 10"
  mv "$tmp/usr/bin/qemu-i386" "$qemu"
  rm -rf "$tmp"
}

# The i386 root: wine and wine32 with their dependencies, unpacked. The
# packages are kept in debs/root; with them there, the root is unpacked again
# without the network.
make_root() {
  [ -f "$root/.sfx-root" ] && return
  local cache=$env_dir/debs/root new=$env_dir/root.new
  rm -rf "$new"
  mkdir -p "$cache"
  if [ -f "$cache/.complete" ]; then
    mkdir -p "$new"
    for deb in "$cache"/*.deb; do dpkg-deb -x "$deb" "$new"; done
  else
    need_package mmdebstrap
    rm -f "$cache"/*.deb
    mmdebstrap --quiet --variant=extract --architectures=i386 --include=wine,wine32 \
      --aptopt='APT::Install-Recommends "false"' \
      --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
      --extract-hook="sync-out /var/cache/apt/archives $cache" \
      bookworm "$new" "$(mirror)" || unavailable "mmdebstrap could not make the i386 root"
    touch "$cache/.complete"
  fi
  # What the packages' scripts would have done: device nodes, and Wine's
  # builtin zlib1.dll, which Debian makes from MinGW's zlib1.dll by marking
  # it with Wine's builtin signature (bytes 64-95 of the DOS stub).
  mkdir -p "$new/dev" "$new/proc" "$new/tmp" "$new/sfx"
  chmod 1777 "$new/tmp"
  local spec name major minor
  for spec in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$spec"
    [ -e "$new/dev/$name" ] || mknod -m 666 "$new/dev/$name" c "$major" "$minor"
  done
  local in=$new/usr/i686-w64-mingw32/lib/zlib1.dll
  local out=$new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } > "$out"
  touch "$new/.sfx-root"
  rm -rf "$root"
  mv "$new" "$root"
}

# Inside the namespaces made by `exec`: binfmt entry, /proc, then CMD.
inside() {
  # The instance lives as long as it is mounted; the mount belongs to this
  # namespace alone.
  local bm=$env_dir/binfmt
  mount -t binfmt_misc binfmt_misc "$bm" 2>/dev/null ||
    unavailable "cannot mount a binfmt_misc of this user namespace (needs Linux 6.7 or later)"
  # i386 ELF executables and shared objects; F: qemu is opened now, so it
  # need not exist inside the root.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":sfx-i386:M::$magic:$mask:$qemu:F" > "$bm/register" 2>/dev/null ||
    unavailable "binfmt_misc refused the i386 entry"
  mount --rbind /proc "$root/proc" || unavailable "cannot bind /proc into the i386 root"
  export SFX_I686_ROOT=$root
  exec "$@"
}

enter() {  # enter CMD...: CMD in the namespaces, environment ready
  [ -x "$qemu" ] && [ -f "$root/.sfx-root" ] && [ -d "$env_dir/binfmt" ] ||
    unavailable "the environment is not made: run scripts/i686-env.sh prepare"
  unshare --user --map-root-user --mount true 2>/dev/null ||
    unavailable "cannot make a user and mount namespace (unshare --user --mount)"
  exec unshare --user --map-root-user --mount -- "$0" __inside "$@"
}

wine_env() {
  echo WINEPREFIX=/sfx/template WINEDEBUG=-all WINESERVER=/usr/lib/wine/wineserver32 \
       WINELOADER=/usr/lib/wine/wine 'WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d'
}

# The template prefix: booted once, with what a real Windows machine has and
# a fresh prefix lacks, and the settings a headless test run needs.
make_template() {
  local stamp=$template/.sfx-template version
  version="$(chroot "$root" /usr/lib/wine/wine --version) $("$qemu" --version | head -1)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then return; fi
  rm -rf "$template"
  local -a wine
  read -r -a envs <<<"$(wine_env)"
  wine=(env -u DISPLAY -u WAYLAND_DISPLAY "${envs[@]}" chroot "$root")
  "${wine[@]}" /usr/lib/wine/wine wineboot -i >/dev/null 2>&1 || { say "wineboot failed"; return 1; }
  reg() { "${wine[@]}" /usr/lib/wine/wine reg add "$@" /f >/dev/null 2>&1; }
  # Every Windows installation has the shared-DLL count key.
  reg 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
  # A crash ends the program instead of waiting for someone to close a dialog.
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  # The calls whose arguments the tests read from the relay trace.
  reg 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA;kernel32.WinExec'
  "${wine[@]}" /usr/lib/wine/wineserver32 -w
  echo "$version" > "$stamp"
}

case "${1:-}" in
  prepare)
    [ "$(id -u)" = 0 ] || unavailable "prepare runs as root (it makes device nodes in the root)"
    mkdir -p "$env_dir/binfmt"
    timed qemu make_qemu
    timed root make_root
    timed template "$0" exec "$0" __template
    ;;
  __template) make_template ;;
  exec) shift; enter "$@" ;;
  __inside) shift; inside "$@" ;;
  check) "$0" exec true ;;
  *) echo "usage: $0 prepare | exec CMD [ARG...] | check" >&2; exit 2 ;;
esac
