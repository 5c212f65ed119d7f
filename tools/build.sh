#!/usr/bin/env bash
# Configures and builds the project into build/ (program and its files in build/bin/).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQR7215_WERROR=ON "$@"
cmake --build build -j"$(nproc)"
