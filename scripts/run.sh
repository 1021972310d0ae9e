#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kelvra on the built-in simulated camera.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/default -G Ninja -DKELVRA_WERROR=ON >/dev/null
cmake --build build/default -j "$(nproc)"
exec build/default/app/kelvra --simulate "$@"
