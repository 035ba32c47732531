#!/usr/bin/env bash
# The virtual USB hardware tier: every case of tests/vm/cases runs once on
# the real kernel path in a qemu guest (vm-run.sh) and once against the
# virtual printer on a pseudo-terminal here, and the two must agree on
# standard output, standard error, exit status and the printer's journal.
#
#   vm-tier.sh boot MODE STATE     boots the guest once for all cases
#   vm-tier.sh check MODE STATE CASE
#                                  runs CASE over the pseudo-terminal and
#                                  compares it with the guest's results
#
# MODE is usblp (/dev/usb/lp0 through the kernel's printer driver) or libusb
# (bus 1 device 2 over usbfs). In a case's argv, @DEV@ stands for the device
# path of the mode. A case may hold expect.out, the exact standard output,
# and expect.journal, the exact journal of what the printer received, and
# modes, the modes it runs in (one a line; all when there is none).
# QOR_BUILD_DIR names the build folder. Exit status 77: the guest cannot run
# on this machine (the reason is printed).
set -euo pipefail

self=$(cd "$(dirname "$0")" && pwd)
build=${QOR_BUILD_DIR:?QOR_BUILD_DIR names the build folder}
action=${1:?boot or check}
mode=${2:?usblp or libusb}
state=${3:?state folder}
case $mode in
  usblp) dev=/dev/usb/lp0 ;;
  libusb) dev=1:2 ;;
  *) echo "vm-tier: mode must be usblp or libusb" >&2; exit 2 ;;
esac

# Copies case $1 to $2 with @DEV@ replaced by $3 in its argv.
prepare_case() {
  mkdir -p "$2"
  cp -a "$self/cases/$1"/. "$2"/
  rm -f "$2"/expect.* "$2"/modes
  sed "s|@DEV@|$3|g" "$self/cases/$1/argv" >"$2/argv"
}

# Whether case $1 runs in this mode: a `modes` file limits it to the modes
# it names (a slow case may run in one only).
in_mode() {
  [[ ! -f $self/cases/$1/modes ]] || grep -qx "$mode" "$self/cases/$1/modes"
}

if [[ $action == boot ]]; then
  rm -rf "$state"
  mkdir -p "$state/cases"
  for c in "$self"/cases/*/; do
    c=$(basename "$c")
    in_mode "$c" || continue
    prepare_case "$c" "$state/cases/$c" "$dev"
  done
  flags=()
  [[ $mode == libusb ]] && flags+=(--libusb)
  set +e
  "$self/vm-run.sh" --build "$build" "${flags[@]}" --case-timeout 120 --timeout 800 \
    --cases "$state/cases" --results "$state/results"
  status=$?
  set -e
  if ((status == 77)); then
    touch "$state/skipped"
    exit 77
  fi
  exit $status
fi

[[ $action == check ]] || { echo "vm-tier: unknown action '$action'" >&2; exit 2; }
name=${4:?case name}
[[ -f $state/skipped ]] && { echo "vm-tier: the guest could not run here (see the boot test)"; exit 77; }
got=$state/results/$name
[[ -f $got/status ]] || { echo "vm-tier: the guest has no results for $name" >&2; exit 1; }

# The same case against the virtual printer on a pseudo-terminal at
# /dev/usb/lp0 (the pseudo-terminal has no bus:device form).
ref=$(mktemp -d "${TMPDIR:-/tmp}/qor-vm-ref.XXXXXX")
trap 'rm -rf "$ref"' EXIT
prepare_case "$name" "$ref/case" /dev/usb/lp0
mapfile -t argv <"$ref/case/argv"
vp=("$build/tools/vprinter/qor-vprinter" --journal "$ref/journal")
[[ -f $ref/case/scenario ]] && vp+=(--scenario "$ref/case/scenario")
set +e
(cd "$ref/case" && PATH=$build/qorlist:$build/qorconfig:$PATH \
  timeout --kill-after=5 120 "${vp[@]}" -- "${argv[@]}" >"$ref/out" 2>"$ref/err")
echo $? >"$ref/status"
set -e

# The journals are compared without their times, which differ from run to run.
untimed() { sed -E 's/,"received_ms":[0-9.]+,"answered_ms":([0-9.]+|null)\}$/}/' "$1"; }
untimed "$ref/journal" >"$ref/journal.untimed"
untimed "$got/journal" >"$ref/journal.guest.untimed"

failed=0
compare() {  # compare WHAT [GUEST FILE]
  if ! cmp -s "$ref/$1" "${2:-$got/$1}"; then
    echo "$name: $1 differs between the pseudo-terminal and $mode:"
    diff -u --label "pty/$1" --label "$mode/$1" "$ref/$1" "${2:-$got/$1}" || true
    failed=1
  fi
}
for what in status out err; do compare "$what"; done
compare journal.untimed "$ref/journal.guest.untimed"
if [[ -f $self/cases/$name/expect.out ]] && ! cmp -s "$self/cases/$name/expect.out" "$got/out"; then
  echo "$name: standard output over $mode is not the expected one:"
  diff -u --label expected --label "$mode/out" "$self/cases/$name/expect.out" "$got/out" || true
  failed=1
fi
if [[ -f $self/cases/$name/expect.journal ]] &&
   ! cmp -s "$self/cases/$name/expect.journal" "$ref/journal.guest.untimed"; then
  echo "$name: the printer's journal over $mode is not the expected one:"
  diff -u --label expected --label "$mode/journal" "$self/cases/$name/expect.journal" \
    "$ref/journal.guest.untimed" || true
  failed=1
fi
if ((failed == 0)); then
  echo "$name over $mode: status $(cat "$got/status"), $(wc -l <"$got/out") output lines," \
    "$(wc -l <"$got/journal") journal lines, the same as over the pseudo-terminal"
fi
# The guest's times (software emulation: slower than the machine itself).
if [[ -s $got/times ]]; then
  last=$(grep -o '"answered_ms":[0-9.]\+' "$got/journal" | tail -n1 | cut -d: -f2 || true)
  read -r started ended <"$got/times"
  awk -v s="$started" -v e="$ended" -v a="${last:-}" 'BEGIN {
    printf "times over the guest: %.1f ms in all", e - s
    if (a != "") printf ", %.1f ms from the last answer byte to the exit", e - a
    printf "\n" }'
fi
exit $failed
