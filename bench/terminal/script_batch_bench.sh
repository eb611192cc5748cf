#!/usr/bin/env bash
# qterm --batch --script against N simulated appliances in sequence (default 50), each a
# telnet console on its own loopback address 127.0.1.K: the total seconds and the mean per
# host. It makes its own network namespace; run it as root from the source folder:
#   bench/terminal/script_batch_bench.sh [BUILD_DIR] [N]
set -euo pipefail
build=${1:-build} count=${2:-50}
if [ -z "${QLX_BENCH_IN_NS:-}" ]; then
  exec env QLX_BENCH_IN_NS=1 unshare -n bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$build" "$count"
fi
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
"$build/bin/qlxsim_console" --count "$count" >"$work/sim.out" &
sim=$!
until grep -q appliances "$work/sim.out" 2>/dev/null; do sleep 0.1; done
# The console's prompt is "> "; three commands, then its goodbye.
cat >"$work/status.qts" <<'QTS'
expect >
sendln status
expect >
sendln version
expect >
sendln exit
QTS
failed=0
start=$(date +%s.%N)
for k in $(seq 1 "$count"); do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work" \
    "$build/bin/qterm" --batch --encoding cp932 --script "$work/status.qts" "127.0.1.$k" 2323 \
    >"$work/$k.txt" 2>>"$work/errors" || failed=$((failed + 1))
done
end=$(date +%s.%N)
lines=$(cat "$work"/[0-9]*.txt | wc -l)
awk -v s="$start" -v e="$end" -v n="$count" -v f="$failed" -v l="$lines" 'BEGIN {
  printf "qterm --batch --script: %d hosts in sequence, %.2f s total, %.1f ms per host, %d failed, %d lines written\n",
    n, e - s, (e - s) * 1000 / n, f, l }'
[ "$failed" = 0 ] || { head -n 5 "$work/errors" >&2; exit 1; }
