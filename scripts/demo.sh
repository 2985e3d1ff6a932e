#!/bin/bash
# The demo: for now, a first look at the diagnostics (traces and value
# formatting), natively with the debugger output on stderr.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh test
bash scripts/build.sh native orvex_smoke
COMPAT_DEBUG_OUTPUT=stderr build/native/bin/orvex_smoke
