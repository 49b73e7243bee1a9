#!/usr/bin/env bash
# The end-to-end demo: the simulated service on loopback, the sample host
# program subscribed to a few data types and securities for about 20 seconds,
# one datafeed node dropped halfway (the client reconnects and replays its
# subscriptions), then both stopped and the summary printed.
#
#   bash scripts/demo.sh BUILD_DIR        (what `make demo` runs after building)
#
# Exits non-zero when the demo did not work: no login, no records, records
# out of order, or no reconnect after the drop.
set -euo pipefail

BUILD=${1:-build}
cd "$(dirname "$0")/.."
SIM="$BUILD/sim/zel-sim"
DEMO="$BUILD/examples/zel-demo"
SECONDS_TOTAL=${ZEL_DEMO_SECONDS:-20}
DROP_AFTER=$((SECONDS_TOTAL / 2))
DOWN_FOR=5

for program in "$SIM" "$DEMO"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; build first (make demo does)" >&2
    exit 1
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zel-demo.XXXXXX")
SIM_PID=""
WATCH_PID=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  for pid in "$WATCH_PID" "$SIM_PID"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until the file (or a file in the folder) holds a line matching the
# pattern; false after the limit in seconds.
wait_for_line() {
  local file=$1 pattern=$2 limit=$3 waited=0
  until grep -rqs -- "$pattern" "$file"; do
    sleep 0.2
    waited=$((waited + 1))
    if [ "$waited" -ge $((limit * 5)) ]; then
      return 1
    fi
  done
}

echo "=== zel demo: starting the simulated service (sites 1 and 2, two nodes each) ==="
mkdir -p "$WORK/logs"
printf 'nuvexia_config_log_folder=%s/logs/\nnuvexia_config_use_ssl=0\nnuvexia_config_statistics_log_interval=5\n' "$WORK" >"$WORK/client.conf"
mkfifo "$WORK/sim.in"
"$SIM" --stats 0 <"$WORK/sim.in" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
exec 3>"$WORK/sim.in"  # keeps the simulator's command input open
if ! wait_for_line "$WORK/sim.out" '^ready' 20; then
  echo "demo: the simulated service did not start" >&2
  cat "$WORK/sim.err" >&2
  exit 1
fi
sed -n '/^discovery\|^datafeed/p' "$WORK/sim.out" | sed 's/^/  /'
DISCOVERY=$(sed -n 's/^discovery \([0-9.]*:[0-9]*\) .*/\1/p' "$WORK/sim.out" | head -n 1)
NODE=$(sed -n 's/^datafeed [0-9.:]* name=\([^ ]*\) site=1 priority=9.*/\1/p' "$WORK/sim.out" | head -n 1)
NODE=${NODE:-site1-node0}

echo "=== zel demo: zel-demo logs in at $DISCOVERY and subscribes for ${SECONDS_TOTAL} s ==="
# Halfway through, one node goes down for a while. The watcher follows the
# client's log file, so that zel-demo itself writes straight to the terminal
# (where it keeps a status line).
(
  if wait_for_line "$WORK/logs" 'SubscribeById success' 90; then
    sleep "$DROP_AFTER"
    echo "=== zel demo: dropping datafeed node $NODE for ${DOWN_FOR} s ==="
    echo "down $NODE" >&3
    sleep "$DOWN_FOR"
    echo "=== zel demo: node $NODE is back ==="
    echo "up $NODE" >&3
  fi
) &
WATCH_PID=$!

# Stock and index records for every security, trades of two securities by id,
# floating-priced stock records of one; one line printed per 500 records.
STATUS=0
"$DEMO" --server "$DISCOVERY" --user demo --password demo --no-tls \
  --types 3,6 --ids 9:100000.SH,100001.IB --ids 20:100000.SH \
  --config "$WORK/client.conf" --every 500 --stats-every 5 --duration "$SECONDS_TOTAL" \
  --expect-reconnects 1 3>&- ||
  STATUS=$?
kill "$WATCH_PID" 2>/dev/null || true
wait "$WATCH_PID" 2>/dev/null || true

echo "quit" >&3
exec 3>&-
wait "$SIM_PID" || true
SIM_PID=""
echo "=== zel demo: the simulated service's counters ==="
sed -n '/^final/,$p' "$WORK/sim.out" | sed 's/^/  /'

if [ "$STATUS" -ne 0 ]; then
  echo "=== zel demo FAILED (zel-demo exit status $STATUS); the client's log follows ===" >&2
  tail -n 60 "$WORK"/logs/pid_*.log >&2 2>/dev/null || true
  exit 1
fi
echo "=== zel demo OK ==="

# The same service through the Python module: login, subscribe, json.loads of
# every record, summary (examples/python_demo.py starts its own zel-sim).
if [ -f "$BUILD/python/_zel_gateway_client.so" ]; then
  echo "=== zel demo: the Python module (examples/python_demo.py) ==="
  PYTHONPATH="$BUILD/python" /usr/bin/python3 examples/python_demo.py --sim "$SIM" --seconds 5
  echo "=== zel python demo OK ==="
fi
