#!/usr/bin/env bash
# Kept for old habits: the benchmark is bench/compare.py (see bench/README.md).
exec python3 "$(dirname "$0")/compare.py" "$@"
