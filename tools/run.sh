#!/usr/bin/env bash
# Installs what is missing, builds the utility and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
echo "The desktop utility is not built yet; the build above covers the firmware, link and log."
