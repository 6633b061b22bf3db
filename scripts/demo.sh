#!/usr/bin/env bash
# Installs what is missing, builds zelvix and renders the bundled demo to WAV.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZELVIX_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target zelvix
mkdir -p out
cp examples/demo.xm out/demo.xm
build/release/zelvix out/demo.xm --render-to-wav </dev/null
ls -l out/demo.xm.wav
