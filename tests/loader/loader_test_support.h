// Helpers shared by the loader tests.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "replayer/song.h"
#include "support/song_invariants.h"
#include "support/test_engine.h"

namespace zv::test {

// Corpus files whose name ends in one of the given suffixes, sorted; empty
// when the corpus folder is absent.
inline std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  DIR* dir = opendir(ZELVIX_CORPUS_DIR);
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    auto endsWith = [&](const char* suffix) {
      std::string s = suffix;
      return name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    if (endsWith(".xm") || endsWith(".mod")) files.push_back(std::string(ZELVIX_CORPUS_DIR) + "/" + name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

inline uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint16_t be16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

}  // namespace zv::test
