#!/bin/bash
# Discovery at scale: N printers answer one netbackend listing within a
# spread of send times; how many are listed, and what the listing costs.
#
#   bench/discovery-scale.sh [BUILD_DIR]
#
# BUILD_DIR (default build/release) holds netbackend/netbackend and
# tools/hcp-responder/hcp-responder. Environment:
#   NETBACKEND  another netbackend binary to measure (e.g. an older build)
#   COUNTS      printer counts (default "50 100 200 400")
#   RUNS        which rows per count, a list of SPREAD_MS:SIZE:READER
#               (SIZE 0 = the plain reply; READER "reads" or "stalled", the
#               backend stopped from the query until the last reply is out)
#
# Everything runs in two network namespaces made here and joined by a veth
# pair (backend 10.78.0.1, printers 10.78.0.2); discovery never runs in the
# machine's own namespace. Needs root (ip netns) and a C compiler (cc, or
# CC) for the small wait4 wrapper that times the backend. Each row takes the
# full 15-second listening window. Prints a Markdown table on standard
# output: printers answering, their spread, reply size, whether the backend
# read or was stopped meanwhile, printers listed (distinct; the line count
# too if it differs), datagrams the kernel dropped for a full queue, the
# socket's queue limit, the time from start to the last line, and the wall
# time, CPU time and peak RSS of the whole listing.
set -euo pipefail

build=${1:-build/release}
netbackend=${NETBACKEND:-$build/netbackend/netbackend}
responder=$build/tools/hcp-responder/hcp-responder
counts=${COUNTS:-50 100 200 400}
runs=${RUNS:-1000:0:reads 0:0:reads 1000:4096:reads 1000:4096:stalled}
for f in "$netbackend" "$responder"; do
    [ -x "$f" ] || { echo "discovery-scale: $f not found" >&2; exit 2; }
done

id=$$
nsA=dsA$id
nsB=dsB$id
work=$(mktemp -d /tmp/discovery-scale.XXXXXX)
responder_pid=
cleanup() {
    [ -n "$responder_pid" ] && kill "$responder_pid" 2>/dev/null && wait "$responder_pid" 2>/dev/null
    ip netns del "$nsA" 2>/dev/null || true
    ip netns del "$nsB" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# measure REPORT PIDFILE PROGRAM [ARG]...: runs PROGRAM, writes its pid to
# PIDFILE, and on its exit "wall user system peak-RSS-KiB status" to REPORT
# (wait4: CPU times to the microsecond, which /usr/bin/time rounds to 10 ms).
cat >"$work/measure.c" <<'EOF_C'
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[3], argv + 3);
        _exit(127);
    }
    FILE* f = fopen(argv[2], "w");
    if (f) {
        fprintf(f, "%d\n", (int)pid);
        fclose(f);
    }
    int status = 0;
    struct rusage ru;
    if (pid < 0 || wait4(pid, &status, 0, &ru) < 0)
        return 2;
    clock_gettime(CLOCK_MONOTONIC, &b);
    f = fopen(argv[1], "w");
    if (f) {
        fprintf(f, "%.3f %.6f %.6f %ld %d\n",
                (double)(b.tv_sec - a.tv_sec) + (double)(b.tv_nsec - a.tv_nsec) / 1e9,
                (double)ru.ru_utime.tv_sec + (double)ru.ru_utime.tv_usec / 1e6,
                (double)ru.ru_stime.tv_sec + (double)ru.ru_stime.tv_usec / 1e6, ru.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        fclose(f);
    }
    return 0;
}
EOF_C
${CC:-cc} -O2 -o "$work/measure" "$work/measure.c"

ip netns add "$nsA"
ip netns add "$nsB"
ip link add name dsa$id netns "$nsA" type veth peer name dsb$id netns "$nsB"
for side in "$nsA dsa$id 10.78.0.1" "$nsB dsb$id 10.78.0.2"; do
    set -- $side
    ip -n "$1" addr add "$3/24" dev "$2"
    ip -n "$1" link set "$2" up
    ip -n "$1" link set lo up
    ip -n "$1" route add 224.0.0.0/4 dev "$2"
done
cp "$netbackend" "$work/tamo"  # the name's first letter accepts Tamo printers

# The backend namespace's count of datagrams dropped for a full receive queue.
rcvbuf_errors() {
    ip netns exec "$nsA" awk '/^Udp:/ { if (!h) { for (i = 1; i <= NF; i++) c[$i] = i; h = 1 }
                                       else print $c["RcvbufErrors"] }' /proc/net/snmp
}

# Waits until file $1 holds a line matching $2 (at most $3 seconds).
wait_line() {
    local deadline=$((SECONDS + $3))
    until grep -q "$2" "$1" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.01
    done
}

echo "| printers | spread | reply bytes | reader | listed | dropped by kernel | receive buffer | last line after | wall | CPU | peak RSS |"
echo "|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for n in $counts; do
    for run in $runs; do
        IFS=: read -r spread size reader <<<"$run"
        dir=$work/run
        rm -rf "$dir"
        mkdir -p "$dir/tmp"
        echo "generate count=$n spread=$spread size=$size" >"$dir/scenario"
        ip netns exec "$nsB" "$responder" "$dir/scenario" --group-on 10.78.0.2 --exit-after 30 \
            --report-sent >"$dir/responder.out" 2>&1 &
        responder_pid=$!
        wait_line "$dir/responder.out" '^ready' 5

        before=$(rcvbuf_errors)
        start=$EPOCHREALTIME
        ip netns exec "$nsA" env -i TMPDIR="$dir/tmp" "$work/measure" "$dir/time" "$dir/pid" \
            "$work/tamo" 2>"$dir/err" |
            while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done \
                >"$dir/lines" &
        listing=$!
        wait_line "$dir/responder.out" '^query from' 5
        buffer=$(ip netns exec "$nsA" ss -uamnH 'sport = :5353' | grep -o 'rb[0-9]*' | head -1)
        if [ "$reader" = stalled ]; then
            backend=$(cat "$dir/pid")
            kill -STOP "$backend"
            wait_line "$dir/responder.out" '^sent' 10
            sleep 0.1
            kill -CONT "$backend"
        fi
        wait "$listing"
        wait_line "$dir/responder.out" '^sent' 1 || true
        kill "$responder_pid" 2>/dev/null && wait "$responder_pid" 2>/dev/null || true
        responder_pid=
        after=$(rcvbuf_errors)

        listed=$(awk '{ print $3 }' "$dir/lines" | sort -u | grep -c '^tamo://' || true)
        lines=$(grep -c ' network tamo://' "$dir/lines" || true)
        [ "$lines" = "$listed" ] || listed="$listed ($lines lines)"
        last=$(tail -1 "$dir/lines" | awk -v s="$start" '{ printf "%.3f s", $1 - s }')
        [ -s "$dir/lines" ] || last=-
        read -r wall user sys rss status <"$dir/time"
        [ "$status" = 0 ] || echo "discovery-scale: backend exit status $status" >&2
        [ -s "$dir/err" ] && echo "discovery-scale: backend wrote to stderr: $(head -3 "$dir/err")" >&2
        printf '| %d | %d ms | %s | %s | %s | %d | %s | %s | %.2f s | %.1f ms | %d KiB |\n' \
            "$n" "$spread" "$( [ "$size" = 0 ] && echo plain || echo "$size")" "$reader" \
            "$listed" $((after - before)) "${buffer#rb}" "$last" "$wall" \
            "$(awk -v u="$user" -v s="$sys" 'BEGIN { print (u + s) * 1000 }')" "$rss"
    done
done
