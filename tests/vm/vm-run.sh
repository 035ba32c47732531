#!/usr/bin/env bash
# Runs commands on the host side of a real kernel USB printer link inside a
# small qemu guest (software emulation only), with the virtual printer
# answering on the gadget side.
#
# The guest boots Debian's kernel with a busybox initramfs. Inside it,
# dummy_hcd provides a virtual USB controller, a printer gadget made through
# configfs (usb_f_printer) is plugged into it, and the virtual printer
# (qor-vm-printer: the printer of qor-vprinter) serves /dev/g_printer0. The
# command then reaches the printer either through the kernel's usblp driver
# at /dev/usb/lp0 or, with --libusb, over usbfs as bus 1 device 2 (usblp is
# not loaded then: it would hold the interface).
#
#   vm-run.sh [OPTIONS] -- COMMAND [ARGS...]
#       Runs one command; prints its standard output and standard error and
#       exits with its status.
#   vm-run.sh [OPTIONS] --cases DIR --results DIR
#       Runs every case of DIR in one boot. A case is a folder holding `argv`
#       (the command, one argument a line), optionally `scenario` (the
#       printer's scenario file) and any files the command reads; the command
#       runs in a copy of that folder. No argument may hold a newline.
#       Each case's results go to RESULTS/CASE/{out,err,status,journal,times}
#       (times: the guest's CLOCK_MONOTONIC milliseconds at which the command
#       started and ended, the clock of the journal's times).
#
# Options:
#   --build DIR       build folder with the programs (default $QOR_BUILD_DIR,
#                     else build/release)
#   --libusb          reach the printer over usbfs instead of usblp
#   --scenario FILE   the printer's scenario (single command)
#   --journal FILE    where to put the printer's journal (single command)
#   --case-timeout S  bound of one case inside the guest (default 60)
#   --timeout S       bound of the whole boot (default 300)
#   --keep DIR        keep the work folder (initramfs, console log) in DIR
#
# Exit status: the command's (single command), 0 when every case ran
# (--cases), 77 when the guest cannot run on this machine (message on
# standard error), 124 when the guest overran its bound, 125 on any other
# failure of this script.
#
# Inputs come from Debian's packages: qemu-system-x86 and busybox-static
# (installed by tests/deps.sh) and the kernel image package, which is
# downloaded with apt-get and unpacked into $QOR_VM_CACHE (default
# /var/cache/qor-vm) without being installed.
set -euo pipefail

self=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$self/../.." && pwd)
build=${QOR_BUILD_DIR:-$root/build/release}
cache=${QOR_VM_CACHE:-/var/cache/qor-vm}
libusb=0
scenario= journal= cases= results= keep=
case_timeout=60
boot_timeout=300
command=()

die() { echo "vm-run: $*" >&2; exit 125; }
cannot() { echo "vm-run: cannot run the guest here: $*" >&2; exit 77; }

while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --libusb) libusb=1; shift ;;
    --scenario) scenario=$(realpath "$2"); shift 2 ;;
    --journal) journal=$2; shift 2 ;;
    --cases) cases=$(realpath "$2"); shift 2 ;;
    --results) results=$2; shift 2 ;;
    --case-timeout) case_timeout=$2; shift 2 ;;
    --timeout) boot_timeout=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --) shift; command=("$@"); break ;;
    *) die "unknown option '$1'" ;;
  esac
done
[[ -n $cases || ${#command[@]} -gt 0 ]] || die "give a command after -- or --cases DIR"
[[ -z $cases || -n $results ]] || die "--cases needs --results DIR"
for a in "${command[@]}"; do
  [[ $a != *$'\n'* ]] || die "an argument of the command holds a newline (the guest reads one a line)"
done
[[ $case_timeout =~ ^[0-9]+$ && $boot_timeout =~ ^[0-9]+$ ]] || die "timeouts are whole seconds"

programs=("$build/qorlist/qorlist" "$build/qorconfig/qorconfig" "$build/tests/vm/qor-vm-printer")
for p in "${programs[@]}"; do [[ -x $p ]] || die "missing program $p (build it first)"; done

qemu=$(command -v qemu-system-x86_64 || true)
busybox=$(command -v busybox || true)
[[ -n $qemu ]] || cannot "qemu-system-x86_64 is not installed (apt-get install qemu-system-x86)"
[[ -n $busybox ]] || cannot "busybox is not installed (apt-get install busybox-static)"
command -v cpio >/dev/null || cannot "cpio is not installed"

# The kernel: the image package that linux-image-amd64 points at, unpacked
# into the cache once. Installing it would run the machine's boot hooks.
kernel_tree() {
  local pkg deb tree
  tree=$(ls -d "$cache"/linux-image-*/done 2>/dev/null | sort -V | tail -n1)
  if [[ -n $tree ]]; then  # unpacked before
    dirname "$tree"
    return 0
  fi
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1)
  if [[ -z $pkg ]]; then  # no package lists: use what the cache holds
    deb=$(ls "$cache"/linux-image-*.deb 2>/dev/null | sort -V | tail -n1)
    [[ -n $deb ]] || return 1
    pkg=$(basename "$deb"); pkg=${pkg%%_*}
  fi
  if [[ ! -f $cache/$pkg/done ]]; then
    deb=$(ls "$cache"/"${pkg}"_*.deb 2>/dev/null | tail -n1)
    if [[ -z $deb ]]; then
      (cd "$cache" && apt-get download -q "$pkg" >/dev/null 2>&1) || return 1
      deb=$(ls "$cache"/"${pkg}"_*.deb | tail -n1)
    fi
    rm -rf "$cache/$pkg.tmp"
    dpkg-deb -x "$deb" "$cache/$pkg.tmp" || return 1
    rm -rf "$cache/$pkg"
    mv "$cache/$pkg.tmp" "$cache/$pkg"
    touch "$cache/$pkg/done"
  fi
  echo "$cache/$pkg"
}
# Parallel runs share the cache: one unpacks at a time.
mkdir -p "$cache" 2>/dev/null || cannot "cannot create the cache folder $cache"
exec 9>>"$cache/.lock"
flock 9
ktree=$(kernel_tree) || cannot "the Debian kernel package could not be fetched into $cache"
vmlinuz=$(ls "$ktree"/boot/vmlinuz-* | head -n1)
# The uncompressed image boots straight into the kernel (PVH entry), which
# saves the many seconds that the firmware and the decompressor take under
# emulation.
kernel=$ktree/vmlinux
if [[ ! -s $kernel ]]; then
  off=$(LC_ALL=C grep -a -b -o -P '\xFD7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1 || true)
  # (tail may die of SIGPIPE once xz has its stream: only the result counts)
  [[ -z $off ]] || { tail -c +$((off + 1)) "$vmlinuz" | xz -dc --single-stream >"$kernel.tmp"; } 2>/dev/null || true
  if [[ -s $kernel.tmp && $(head -c 4 "$kernel.tmp" | od -An -c | tr -d ' ') == 177ELF ]]; then
    mv "$kernel.tmp" "$kernel"
  else
    rm -f "$kernel.tmp"
  fi
fi
[[ -s $kernel ]] || kernel=$vmlinuz
moddir=$(ls -d "$ktree"/lib/modules/* | head -n1)
flock -u 9
exec 9>&-

work=$(mktemp -d "${TMPDIR:-/tmp}/qor-vm.XXXXXX")
qemu_pid=
cleanup() {
  if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
  fi
  if [[ -n $keep ]]; then
    mkdir -p "$keep" && cp -a "$work"/. "$keep"/
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 125' INT TERM HUP

# --- the initramfs --------------------------------------------------------
rootfs=$work/root
mkdir -p "$rootfs"/{bin,sbin,usr/bin,proc,sys,dev,tmp,run,modules,cases,results}
cp "$busybox" "$rootfs/bin/busybox"

# Modules in load order: each one after what its depends= field names.
# (The package has no modules.dep.)
declare -A loaded=()
order=()
add_module() {
  local m=$1 dep ko
  [[ -n ${loaded[$m]:-} ]] && return 0
  ko=$(grep -E "/(${m}|${m//_/-})\.ko\$" "$moddir/modules.order" | head -n1 || true)
  [[ -n $ko && -f $moddir/$ko ]] || die "kernel module $m not found in $moddir"
  for dep in $(grep -a -o 'depends=[a-z0-9_,-]*' "$moddir/$ko" | head -n1 | cut -d= -f2 | tr , ' '); do
    add_module "$dep"
  done
  loaded[$m]=1
  order+=("$m")
  cp "$moddir/$ko" "$rootfs/modules/$m.ko"
}
for m in dummy_hcd usb_f_printer usblp; do add_module "$m"; done
printf '%s\n' "${order[@]}" >"$rootfs/modules/order"

# The programs on the guest's PATH, with every shared library they load at
# the path the dynamic loader looks in.
for p in "${programs[@]}"; do
  cp "$p" "$rootfs/usr/bin/"
  strip --strip-debug "$rootfs/usr/bin/${p##*/}" 2>/dev/null || true  # a smaller initramfs loads faster
done
for lib in $(ldd "${programs[@]}" "$busybox" 2>/dev/null | grep -o '/[^ ]*' | sort -u); do
  [[ -f $lib ]] || continue
  mkdir -p "$rootfs$(dirname "$lib")"
  cp -L "$lib" "$rootfs$lib"
done

cat >"$rootfs/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
say() { echo "qor-guest: $*" >/dev/console; }
finish() {
  stty -F /dev/ttyS1 raw -echo 2>/dev/null
  { echo QOR-RESULTS-BEGIN; tar -c -C /results . | base64; echo QOR-RESULTS-END; } >/dev/ttyS1
  reboot -f
}
. /run.conf
# The guest ends itself at its bound, even when no one is left to kill qemu.
(sleep $boot_timeout; echo "qor-guest: time is up" >/dev/console; reboot -f) &
skip=
[ "$mode" = libusb ] && skip=usblp
for m in $(cat /modules/order); do
  [ "$m" = "$skip" ] && continue
  [ "$m" = dummy_hcd ] && continue  # loaded per case
  insmod /modules/$m.ko || { say "insmod $m failed"; finish; }
done
mount -t configfs configfs /sys/kernel/config
g=/sys/kernel/config/usb_gadget/qor
mkdir $g
echo 0x1d6b >$g/idVendor
echo 0x0104 >$g/idProduct
mkdir $g/strings/0x409
echo Qor >$g/strings/0x409/manufacturer
echo "Virtual printer" >$g/strings/0x409/product
echo 0001 >$g/strings/0x409/serialnumber
mkdir $g/functions/printer.0
# This kernel's gadget drops the last two characters of the id: pad it.
echo "MFG:Qor;MDL:Virtual printer;CLS:PRINTER;  " >$g/functions/printer.0/pnp_string
mkdir $g/configs/c.1
ln -s $g/functions/printer.0 $g/configs/c.1/
# Waits up to $2 tenths of a second for the path $1.
await() { n=0; while [ ! -e "$1" ] && [ $n -lt "$2" ]; do sleep 0.1; n=$((n + 1)); done; [ -e "$1" ]; }
# Ready when the host side has configured the device: its interface exists
# (libusb claims it) or usblp has bound to it.
if [ "$mode" = libusb ]; then host_node=/sys/bus/usb/devices/1-1:1.0; else host_node=/dev/usb/lp0; fi
for c in $(ls /cases); do
  r=/results/$c
  mkdir -p $r /tmp/run/$c
  cp -a /cases/$c/. /tmp/run/$c/
  # A fresh controller for every case: no bytes left in the link from the
  # case before, and the device numbered 2 on bus 1 again.
  insmod /modules/dummy_hcd.ko
  await /sys/class/udc/dummy_udc.0 50 || { echo "no dummy_udc.0" >$r/setup; continue; }
  echo dummy_udc.0 >$g/UDC
  if await /dev/g_printer0 300 && await $host_node 300; then
    set --
    while IFS= read -r a || [ -n "$a" ]; do set -- "$@" "$a"; done </cases/$c/argv
    vp="qor-vm-printer /dev/g_printer0 --journal $r/journal --times $r/times"
    [ -f /cases/$c/scenario ] && vp="$vp --scenario /cases/$c/scenario"
    (cd /tmp/run/$c && timeout -s KILL $case_timeout $vp -- "$@" >$r/out 2>$r/err)
    echo $? >$r/status
  else
    echo "the gadget did not show up as $host_node" >$r/setup
  fi
  echo >$g/UDC
  rmmod dummy_hcd
done
finish
EOF
chmod 755 "$rootfs/init"

if [[ -n $cases ]]; then
  cp -a "$cases"/. "$rootfs/cases/"
else
  mkdir -p "$rootfs/cases/run"
  printf '%s\n' "${command[@]}" >"$rootfs/cases/run/argv"
  [[ -z $scenario ]] || cp "$scenario" "$rootfs/cases/run/scenario"
fi
for c in "$rootfs"/cases/*; do
  [[ -f $c/argv ]] || die "case $(basename "$c") has no argv file"
done
{
  if ((libusb)); then echo mode=libusb; else echo mode=usblp; fi
  echo "case_timeout=$case_timeout"
  echo "boot_timeout=$boot_timeout"
  # the sanitizers' settings of a sanitized build reach the guest as well
  for v in ASAN_OPTIONS UBSAN_OPTIONS; do
    [[ -z ${!v:-} ]] || printf 'export %s=%q\n' "$v" "${!v}"
  done
} >"$rootfs/run.conf"
(cd "$rootfs" && find . | cpio -o -H newc --quiet -R 0:0) >"$work/initramfs.cpio"

# --- the boot -------------------------------------------------------------
: >"$work/results.raw"
"$qemu" -accel tcg -machine pc -m 1024 -smp 1 -nodefaults -no-user-config -display none \
  -no-reboot -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 panic=-1 rdinit=/init" \
  -serial "file:$work/console.log" -serial "file:$work/results.raw" \
  </dev/null >"$work/qemu.log" 2>&1 &
qemu_pid=$!
deadline=$((SECONDS + boot_timeout))
while kill -0 "$qemu_pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
if kill -0 "$qemu_pid" 2>/dev/null; then
  echo "vm-run: the guest did not finish within ${boot_timeout}s; console:" >&2
  tail -n 30 "$work/console.log" >&2
  exit 124
fi
wait "$qemu_pid" || true
qemu_pid=

mkdir -p "$work/out"
if ! tr -d '\r' <"$work/results.raw" | sed -n '/^QOR-RESULTS-BEGIN$/,/^QOR-RESULTS-END$/p' |
     sed '1d;$d' | base64 -d | tar -x -C "$work/out" 2>/dev/null; then
  echo "vm-run: the guest sent no results; qemu said:" >&2
  cat "$work/qemu.log" >&2
  echo "vm-run: console:" >&2
  tail -n 30 "$work/console.log" >&2
  exit 125
fi
for r in "$work"/out/*/; do
  [[ -f $r/setup ]] || continue
  echo "vm-run: case $(basename "$r"): $(cat "$r/setup")" >&2
  exit 125
done

if [[ -n $cases ]]; then
  mkdir -p "$results"
  cp -a "$work"/out/. "$results"/
  exit 0
fi
r=$work/out/run
[[ -f $r/status ]] || die "the command did not run"
cat "$r/out"
cat "$r/err" >&2
[[ -z $journal ]] || cp "$r/journal" "$journal"
exit "$(cat "$r/status")"
