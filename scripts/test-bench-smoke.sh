#!/usr/bin/env bash
# Runs the benchmark on a few hundred pairs (no targets judged), so that the
# generator, the checker and the timing script keep working. The full
# benchmark is `python3 bench/run.py`; it takes minutes and is not run here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make python3 strace
python3 bench/run.py --smoke
