#!/usr/bin/env bash
# Installs what is needed, builds, and runs the three programs against the
# bundled simulated printers:
#   - netbackend (listing and job mode) against the discovery responder, in
#     two private network namespaces joined by a veth pair: nothing is sent on
#     this machine's own network;
#   - qorlist and qorconfig against the virtual USB printer, which puts its
#     own device node at /dev/usb/lp0 in a private mount namespace: a real
#     /dev/usb is never touched.
# Needs root (namespaces). QOR_DEMO_SKIP_DEPS=1 skips the package install.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release

if [[ ${QOR_DEMO_SKIP_DEPS:-0} != 1 ]]; then
  "$root/tests/deps.sh"
fi
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)"

work=$(mktemp -d /tmp/qor-demo.XXXXXX)
backend_ns=qordemo-b$$
printer_ns=qordemo-p$$
responder=
cleanup() {
  [[ -n $responder ]] && kill "$responder" 2>/dev/null && wait "$responder" 2>/dev/null
  ip netns del "$backend_ns" 2>/dev/null || true
  ip netns del "$printer_ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

section() { printf '\n==== %s\n' "$*"; }
show() {  # show <command...>: prints the command, runs it, prints its status
  printf '$ %s\n' "$*"
  local status=0
  "$@" || status=$?
  printf '[exit status %d]\n' "$status"
}

# ---------------------------------------------------------------- netbackend
section "netbackend: installed as the spooler would have it (cmake --install)"
DESTDIR=$work/root cmake --install "$build" >/dev/null
backends=$work/root/usr/lib/cups/backend
ls -li "$backends"

ip netns add "$backend_ns"
ip netns add "$printer_ns"
ip link add name qd-b$$ netns "$backend_ns" type veth peer name qd-p$$ netns "$printer_ns"
for side in "$backend_ns qd-b$$ 10.88.0.1" "$printer_ns qd-p$$ 10.88.0.2"; do
  read -r ns dev addr <<<"$side"
  ip -n "$ns" addr add "$addr/24" dev "$dev"
  ip -n "$ns" link set "$dev" up
  ip -n "$ns" link set lo up
  ip -n "$ns" route add 224.0.0.0/4 dev "$dev"
done

cat >"$work/printers.txt" <<'EOF'
# Three printers on the link, answering the discovery query.
printer name=tamo-office
txt MACUAA=80000000C001
txt IPADDRESS=10.88.0.50
txt 1284STRID=MFG:Tamo;MDL:"Tamo Laser 5000";
end
printer name=dalor-lab delay=300 section=additional compress=1
txt MACUAA=020000000001
txt IPADDRESS=10.88.0.51
txt 1284STRID="DALOR D1"
end
printer name=kessa-hall delay=600 to=multicast
txt MACUAA=0C0000000003
txt IPADDRESS=10.88.0.52
txt 1284STRID="Kessa K2"
end
EOF
ip netns exec "$printer_ns" "$build/tools/hcp-responder/hcp-responder" "$work/printers.txt" \
  --group-on 10.88.0.2 --exit-after 120 >"$work/responder.out" 2>&1 &
responder=$!
for _ in $(seq 50); do grep -q ready "$work/responder.out" 2>/dev/null && break; sleep 0.1; done

in_backend_ns() { ip netns exec "$backend_ns" env -i PATH=/usr/bin:/bin TMPDIR="$work" "$@"; }

section "netbackend: version"
show in_backend_ns "$backends/tamo" -v

section "netbackend: listing (what 'lpinfo -v' shows), all manufacturers, then Tamo only"
show in_backend_ns "$backends/generic"
printf '$ %s\n' "$backends/tamo"
tamo_listing=$(in_backend_ns "$backends/tamo")
printf '%s\n' "$tamo_listing"
# The queue's URI, as a user picks it from the list.
tamo_uri=$(awk '{print $2; exit}' <<<"$tamo_listing")

# A stand-in for the spooler's socket backend: shows what it was handed.
mkdir -p "$work/serverbin/backend"
cat >"$work/serverbin/backend/socket" <<'EOF'
#!/bin/sh
echo "socket backend: DEVICE_URI=$DEVICE_URI, job $1 for $2, $(wc -c <"$6") bytes"
EOF
chmod 0755 "$work/serverbin/backend/socket"
printf 'hello printer\n' >"$work/job.txt"

section "netbackend: job mode finds the printer by its hardware address"
show in_backend_ns DEVICE_URI="$tamo_uri" CUPS_SERVERBIN="$work/serverbin" \
  "$backends/tamo" 42 alice demo 1 "" "$work/job.txt"

section "netbackend: job mode for a printer that is off: it keeps looking until the job is cancelled (SIGTERM after 30 s here)"
show timeout --preserve-status 30 ip netns exec "$backend_ns" env -i PATH=/usr/bin:/bin \
  TMPDIR="$work" DEVICE_URI=tamo://0100000003FF CUPS_SERVERBIN="$work/serverbin" \
  "$backends/tamo" 43 alice demo 1 "" "$work/job.txt"

section "netbackend: the same job printed to a class gives up after one window"
show in_backend_ns CLASS=demo-class DEVICE_URI=tamo://0100000003FF CUPS_SERVERBIN="$work/serverbin" \
  "$backends/tamo" 44 alice demo 1 "" "$work/job.txt"

# ------------------------------------------------------------ USB programs
vprinter=$build/tools/vprinter/qor-vprinter
qorlist=$build/qorlist/qorlist
qorconfig=$build/qorconfig/qorconfig

section "qorlist: the networks a printer reached through the forwarding channel sees"
show "$vprinter" --kind forward -- "$qorlist"
echo
show "$vprinter" --kind forward -- "$qorlist" -x
echo

section "qorlist: a printer of the direct kind (the fallback, CTYPE=2), and its wireless support"
show "$vprinter" --kind direct -- "$qorlist"
echo
show "$vprinter" --kind direct -- "$qorlist" -m
echo

section "qorconfig: join a WPA2 network; the printer reports the address it obtained"
cat >"$work/printer.conf" <<'EOF'
ssid = OfficeNet
ip = 10.20.30.40
EOF
show "$vprinter" --scenario "$work/printer.conf" --journal "$work/journal.json" -- \
  "$qorconfig" --ssid="OfficeNet" --mode=Managed --security=WPA2 --passwd=s3cret-pass
echo "What the printer received (its journal; standard error above shows the password masked):"
cat "$work/journal.json"
show "$vprinter" --scenario "$work/printer.conf" -- "$qorconfig" -s

section "qorconfig: the printer's certificate defaults"
show "$vprinter" -- "$qorconfig" -rcerdefs

section "qorconfig: a printer that does not answer"
cat >"$work/silent.conf" <<'EOF'
fault = any silent
EOF
show "$vprinter" --scenario "$work/silent.conf" -- "$qorconfig" -s

printf '\ndemo finished\n'
