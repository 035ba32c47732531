#!/usr/bin/env bash
# vm-run.sh with one command, as it is used by hand: the command's standard
# output, standard error and exit status come back unchanged, and in libusb
# mode the guest has the device on usbfs but no usblp driver and no
# /dev/usb/lp0. QOR_BUILD_DIR names the build folder. Exit status 77: the
# guest cannot run here.
set -uo pipefail

self=$(cd "$(dirname "$0")" && pwd)
build=${QOR_BUILD_DIR:?QOR_BUILD_DIR names the build folder}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/qor-vm-single.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

probe='printf "out 1\nout 2"; echo "err 1" >&2;
grep -q "^usblp " /proc/modules && echo "usblp loaded" >&2;
[ -e /dev/usb/lp0 ] && echo "lp0 present" >&2;
[ -e /dev/bus/usb/001/002 ] || echo "no usbfs node 001/002" >&2;
exit 3'
probe=${probe//$'\n'/ }  # one argument a line in the guest
"$self/vm-run.sh" --build "$build" --libusb --timeout 300 -- sh -c "$probe" >"$tmp/out" 2>"$tmp/err"
status=$?
((status == 77)) && { cat "$tmp/err"; exit 77; }

failed=0
[[ $status == 3 ]] || { echo "exit status $status, expected 3"; failed=1; }
if [[ $(cat "$tmp/out"; echo .) != $'out 1\nout 2.' ]]; then
  echo "standard output differs:"; cat -A "$tmp/out"; failed=1
fi
if [[ $(cat "$tmp/err") != "err 1" ]]; then
  echo "standard error differs:"; cat -A "$tmp/err"; failed=1
fi
((failed)) || echo "one command in the guest: output, error and status come back unchanged"
exit $failed
