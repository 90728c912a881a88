#!/bin/sh
# Bridge benchmark: the vantrel worker against socat between a TCP client on
# 127.0.0.1 and a pseudo-terminal board. Options go to the driver, e.g.
#   bench/run.sh --rounds 5 --mib 64
# VANTREL names the binary (default: build/vantrel).
set -e
cd "$(dirname "$0")/.."
exec python3 bench/bridge_bench.py --vantrel "${VANTREL:-build/vantrel}" "$@"
