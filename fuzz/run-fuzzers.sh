#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time and reports, per
# target, libFuzzer's final statistics and the edge coverage of the target's
# own source files.
#
#   fuzz/run-fuzzers.sh BUILD_DIR [SECONDS] [options]
#
#   SECONDS              time per target (default 60)
#   --time NAME=SECONDS  a different time for one target (repeatable)
#   --only REGEX         run only the targets whose name matches
#   --jobs N             targets run at the same time (default 2)
#   --keep DIR           keep each grown corpus in DIR/<target>/ (and start
#                        from it when it is there): for long runs in steps
#   --report FILE        also write the results as a Markdown table
#
# A crash, leak, timeout or out-of-memory input is copied into the target's
# crashes/ folder (which ordinary builds replay as a test) and the run fails.
# The build must be a fuzz build: CC=clang CXX=clang++ cmake -DQOR_FUZZ=ON.
set -uo pipefail
usage() { sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[ $# -ge 1 ] || usage
build=$1
shift
seconds=60
if [ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
declare -A perTarget=()
only="" jobs=2 keep="" report=""
while [ $# -gt 0 ]; do
    case $1 in
    --time) [[ ${2:-} =~ ^([A-Za-z0-9_]+)=([0-9]+)$ ]] || usage
        perTarget[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}; shift 2 ;;
    --only) only=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --keep) keep=${2:?}; shift 2 ;;
    --report) report=${2:?}; shift 2 ;;
    *) usage ;;
    esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
list="$build/fuzzers.txt"
[ -f "$list" ] || { echo "no fuzz targets in $build (configure with -DQOR_FUZZ=ON)"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The source folder whose edges count as a target's own: the virtual
# printer's for its targets, else the area's, the area being the folder that
# holds the target's crashes/ folder.
ownSources() {
    local area
    area=$(basename "$(dirname "$(dirname "$2")")")
    case $1 in fuzz_vprinter_*) area=vprinter ;; esac
    case $area in
    cert) echo "$root/qorconfig/cert/" ;;
    vprinter) echo "$root/tools/vprinter/" ;;
    *) echo "$root/$area/" ;;
    esac
}

# "covered/total percent files" over the functions of the files under $2
# that the target reaches at all (a file of the area that none of its inputs
# enters is not its own), from the output of -print_coverage=1 in $1.
ownCoverage() {
    awk -v own="$2" '
        /^(COVERED|UNCOVERED)_FUNC:/ {
            file = $NF; sub(/:[0-9]+$/, "", file)
            if (index(file, own) != 1) next
            split($5, e, "/"); covered[file] += e[1]; total[file] += e[2]
        }
        END {
            c = 0; t = 0; names = ""
            for (f in total) {
                if (covered[f] == 0) continue
                c += covered[f]; t += total[f]
                n = f; sub(/.*\//, "", n)
                names = names (names == "" ? "" : ",") n ":" covered[f] "/" total[f]
            }
            if (t == 0) { print "0/0 - -"; exit }
            printf "%d/%d %.0f%% %s\n", c, t, 100 * c / t, names
        }' "$1"
}

finalStat() { grep -m1 -o "stat::$2: *[0-9]*" "$1" | awk '{print $2}'; }

run_one() {
    local name=$1 bin=$2 corpus=$3 dict=$4 crashes=$5
    local time=${perTarget[$name]:-$seconds}
    local dir="$work/$name" grown="$work/$name/corpus"
    mkdir -p "$grown" "$dir/artifacts"
    [ -d "$corpus" ] && cp -r "$corpus"/. "$grown/" 2>/dev/null
    [ -n "$keep" ] && [ -d "$keep/$name" ] && cp -r "$keep/$name"/. "$grown/" 2>/dev/null
    local args=(-max_total_time="$time" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
                -artifact_prefix="$dir/artifacts/")
    [ -n "$dict" ] && [ -f "$dict" ] && args+=(-dict="$dict")
    local start=$SECONDS
    if ! "$bin" "${args[@]}" "$grown" >"$dir/log" 2>&1; then
        echo "fuzz $name: FAILED after $((SECONDS - start)) s"
        tail -40 "$dir/log"
        mkdir -p "$crashes"
        cp "$dir/artifacts"/* "$crashes/" 2>/dev/null && echo "fuzz $name: kept $(ls "$dir/artifacts" | tr '\n' ' ')in $crashes"
        echo "$name|FAILED|$time" >"$dir/row"
        return 1
    fi
    # Coverage of the target's own files over the whole grown corpus.
    "$bin" -runs=0 -print_coverage=1 "$grown" >"$dir/coverage" 2>&1
    local runs rate units rss done cov ft ownEdges ownPercent ownFiles inputs
    runs=$(finalStat "$dir/log" number_of_executed_units)
    rate=$(finalStat "$dir/log" average_exec_per_sec)
    units=$(finalStat "$dir/log" new_units_added)
    rss=$(finalStat "$dir/log" peak_rss_mb)
    done=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done")
    read -r ownEdges ownPercent ownFiles < <(ownCoverage "$dir/coverage" "$(ownSources "$name" "$crashes")")
    inputs=$(find "$grown" -type f | wc -l)
    echo "fuzz $name: ok, ${runs:-?} runs in ${time} s (${rate:-?}/s), cov ${cov:-?} ft ${ft:-?}," \
         "corpus $inputs (+${units:-0}), own-file edges $ownEdges ($ownPercent: $ownFiles), peak ${rss:-?} MB"
    echo "$name|ok|$time|${runs:-}|${rate:-}|${cov:-}|${ft:-}|$ownEdges|$ownPercent|$inputs|$ownFiles" >"$dir/row"
    if [ -n "$keep" ]; then
        mkdir -p "$keep/$name" && cp -r "$grown"/. "$keep/$name/"
    fi
}

status=0
pids=()
names=()
while IFS='|' read -r name bin corpus dict crashes; do
    [ -n "$name" ] || continue
    [ -z "$only" ] || [[ $name =~ $only ]] || continue
    names+=("$name")
    run_one "$name" "$bin" "$corpus" "$dict" "$crashes" &
    pids+=($!)
    if ((${#pids[@]} >= jobs)); then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done <"$list"
for p in "${pids[@]}"; do wait "$p" || status=1; done

if [ -n "$report" ]; then
    {
        echo "| Target | Result | Seconds | Executions | Exec/s | cov | ft | Own-file edges | Own % | Corpus | Own files (covered/total edges) |"
        echo "|---|---|---|---|---|---|---|---|---|---|---|"
        for n in "${names[@]}"; do
            [ -f "$work/$n/row" ] &&
                awk -F'|' '{ line = "|"; for (i = 1; i <= 11; i++) line = line " " $i " |"; print line }' "$work/$n/row"
        done
    } >"$report"
fi
if ((status == 0)); then echo "fuzz: ${#names[@]} targets, no findings"; else echo "fuzz: findings (see above)"; fi
exit $status
