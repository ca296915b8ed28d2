#!/usr/bin/env bash
# Sets up, builds and runs the program's main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
exec "$root/build/release/tools/coredemo/qvcoredemo"
