#!/usr/bin/env bash
# Waits until the program on the simulated box with root DIR has started its links, then prints
# one line saying where it listens: the TCP and UDP ports, the serial pseudo-terminals and the
# root. It reads what the program writes under DIR/sim/ ("links", "serial-ports").
# Usage: scripts/sim-ready.sh DIR [PID]   (with PID, gives up when that process ends)
set -euo pipefail
root=$1
pid=${2:-}
links=$root/sim/links

for _ in $(seq 1200); do  # at most 2 minutes
    [[ -s $links ]] && break
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then exit 1; fi
    sleep 0.1
done
[[ -s $links ]] || { echo "simulated box not ready after 2 minutes (no $links)" >&2; exit 1; }

where() {  # where <link>: "127.0.0.1:port", or "not listening"
    local port
    port=$(awk -v l="$1" '$1 == l { print $2 }' "$links")
    if [[ -z $port || $port == none ]]; then echo "not listening"; else echo "127.0.0.1:$port"; fi
}
serial=$(awk '{ printf "%s%s at %s", sep, $1, $2; sep = ", " }' "$root/sim/serial-ports" 2>/dev/null || true)

echo "simulated box ready: TCP $(where tcp), UDP $(where udp), WiFi text UDP $(where wifi)," \
    "serial ${serial:-none}, root $root"
