#!/usr/bin/env bash
# Configures the optimised build in build/release with every cache option
# stated, so that scripts/demo.sh and scripts/test.sh share the folder in
# either order without one leaving the other a setting it did not ask for.
# The library folder is always the project's default (lib/<triplet> on
# Debian), also in a folder configured before that default was chosen.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZELVIX_TESTS=ON -DZELVIX_BENCH=ON \
  -DZELVIX_SANITIZE=OFF -DZELVIX_TSAN=OFF -DZELVIX_FUZZ=OFF -UCMAKE_INSTALL_LIBDIR >/dev/null
