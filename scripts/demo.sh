#!/usr/bin/env bash
# Installs what is missing, builds zelvix and renders the bundled demo to WAV.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
# The same folder and options as scripts/test.sh, so that either may run first.
scripts/configure_release.sh
cmake --build build/release -j"$(nproc)" --target zelvix
mkdir -p out
cp examples/demo.xm out/demo.xm
build/release/zelvix out/demo.xm --render-to-wav </dev/null
ls -l out/demo.xm.wav
