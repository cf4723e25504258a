#!/usr/bin/env bash
# Runs every benchmark and prints one table of their figures (README.md,
# "Report").
#   bench/report.sh [build dir] [--quick]
# --quick takes about 4-5 minutes, the defaults about 6-8.
# Timings are not checked: the report fails only when a benchmark does not
# run to its end or a figure of the table is missing from its output.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
quick=0
for arg in "$@"; do
    case $arg in
    --quick) quick=1 ;;
    -*)
        echo "usage: $0 [build dir] [--quick]" >&2
        exit 2
        ;;
    # Absolute: the programs turn the button's state folder into a Wine path.
    *) build=$(realpath -m "$arg") ;;
    esac
done

# Counts for a report of a few minutes; without --quick each benchmark
# keeps its own defaults.
alarm_args=()
button_args=()
service_args=()
if [ "$quick" = 1 ]; then
    alarm_args=(--rounds 11 --rpc-calls 21)
    button_args=(--rounds 3 --ticks 21)
    service_args=(--rounds 3 --calls 500 --ticks 20)
fi

logs=$build/bench/report
mkdir -p "$logs"
failures=()
failed=' '
# One runner call per benchmark so that each keeps a log of its own and a
# failure names its benchmark.
run_bench() {
    local name=$1 rc=0 start=$SECONDS
    shift
    echo "running $name ..." >&2
    "$@" >"$logs/$name.log" 2>&1 </dev/null || rc=$?
    echo "  $name: $((SECONDS - start)) s, exit $rc" >&2
    if [ "$rc" != 0 ]; then
        failures+=("$name did not run to its end (exit $rc): see $logs/$name.log")
        failed+="$name "
    fi
}
run_bench alarm_bench "$root/bench/run.sh" "$build" --only alarm_bench ${alarm_args[@]+"${alarm_args[@]}"}
run_bench button_bench "$root/bench/run.sh" "$build" --only button_bench ${button_args[@]+"${button_args[@]}"}
run_bench service_bench "$root/bench/service_bench.sh" "$build" ${service_args[@]+"${service_args[@]}"}

# Each figure is a line "row: <key> <N> <value> <baseline or -> <unit>" in
# its benchmark's log; this table says which rows the report shows, in order.
rows='button_bench|button_press|1|press -> last unmount, in process
button_bench|button_press|10|press -> last unmount, in process
button_bench|button_press|100|press -> last unmount, in process
button_bench|button_press|200|press -> last unmount, in process
button_bench|button_press_hung|10|same, a hung RPC server listed first
button_bench|button_press_hung|100|same, a hung RPC server listed first
alarm_bench|holder_alarm|1|alarm round through N ConnectorHolders
alarm_bench|holder_alarm|10|alarm round through N ConnectorHolders
alarm_bench|holder_alarm|100|alarm round through N ConnectorHolders
alarm_bench|holder_alarm|200|alarm round through N ConnectorHolders
alarm_bench|rpc_alarm_median|1|RPC alarm (open + alarm), median
alarm_bench|rpc_alarm_min|1|RPC alarm (open + alarm), min
alarm_bench|rpc_probe_median|1|RPC probe (open + close), median
alarm_bench|rpc_probe_min|1|RPC probe (open + close), min
button_bench|tick_cpu|100|checker tick, CPU per tick
button_bench|tick_wall|100|checker tick, wall median
service_bench|cold_start|-|cold activation -> first answer, median
service_bench|warm_count|-|warm call Count, median
service_bench|warm_comport|-|warm call ComPort (BSTR back), median
service_bench|service_press|10|press -> last unmount, service
service_bench|service_press|100|press -> last unmount, service
service_bench|working_set|100|service working set while ticking
service_bench|peak_working_set|100|service peak working set
service_bench|threads|100|service threads while ticking, max
service_bench|handles|100|service handles while ticking
service_bench|ticks|100|checker ticks while sampling'

number='^[0-9]+(\.[0-9]+)?$'
table_row() { printf '%-40s %4s %11s %11s %7s  %s\n' "$@"; }
table=$logs/table.txt
{
    table_row measure N value baseline ratio unit
    printf '%s\n' "$(printf '%.0s-' {1..84})"
    while IFS='|' read -r bench key n label; do
        # Wine's C runtime ends lines with CR LF.
        line=$(tr -d '\r' <"$logs/$bench.log" | grep -m1 "^row: $key $n " || true)
        read -r _ _ _ value baseline unit extra <<<"$line" || true
        if [ -z "$line" ] || [ -n "${extra:-}" ] || ! [[ $value =~ $number ]] ||
            ! [[ $baseline =~ $number|^-$ ]] || [ -z "$unit" ]; then
            # A benchmark that stopped early has already been named.
            if [[ $failed != *" $bench "* ]]; then
                failures+=("$bench: no readable row \"$key $n\" in $logs/$bench.log")
            fi
            table_row "$label" "$n" missing - - -
            continue
        fi
        ratio=-
        if [ "$baseline" != - ]; then
            ratio=$(awk -v a="$value" -v b="$baseline" \
                'BEGIN { print (b > 0 ? sprintf("%.2f", a / b) : "-") }')
        fi
        table_row "$label" "$n" "$value" "$baseline" "$ratio" "$unit"
    done <<<"$rows"
    printf '%s\n' "$(printf '%.0s-' {1..84})"
    echo "baseline: a plain send(\"unmount\") loop on N open sockets for the press and alarm"
    echo "rows; the press without the hung server, in turns and after the same quiet time,"
    echo "for the hung rows; after 5 ticks for the working-set and handle rows."
    echo "ratio = value / baseline."
    echo "raw output: $logs/{alarm_bench,button_bench,service_bench}.log"
} >"$table"
cat "$table"
if [ ${#failures[@]} -gt 0 ]; then
    printf 'report incomplete:\n' >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
