#!/usr/bin/env bash
# Under valgrind's memcheck: a corpus XM and a corpus MOD loaded, rendered
# for ten seconds and released (the audio test CorpusRender.TenSecondsOfAnXmAndAMod
# of the optimised build in build/release). Fails on any invalid access and
# on any leaked block (definitely, indirectly or possibly lost).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh valgrind
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=1 \
  build/release/audio_tests --gtest_filter=CorpusRender.TenSecondsOfAnXmAndAMod
