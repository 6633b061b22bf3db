/* The library's side of a render's speed: loads MODULE, then either renders
 * its whole stop stream through zv_render in calls of FRAMES frames (1024 by
 * default) into OUTPUT (a 44-byte gap, then the data, as the program writes
 * its file), or with --duration only computes the song's length.
 *
 *   api_render MODULE OUTPUT [FRAMES]
 *   api_render MODULE --duration */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zelvix/zelvix.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s MODULE OUTPUT [FRAMES] | MODULE --duration\n", argv[0]);
    return 2;
  }
  zv_error error;
  zv_module* module = zv_load_file(argv[1], NULL, &error);
  if (module == NULL) {
    fprintf(stderr, "%s: %s\n", argv[1], zv_error_message(error));
    return 1;
  }
  if (strcmp(argv[2], "--duration") == 0) {
    printf("%llu frames\n", (unsigned long long)zv_duration_frames(module));
    zv_free(module);
    return 0;
  }
  const size_t frames = argc > 3 ? (size_t)strtoul(argv[3], NULL, 10) : 1024;
  int16_t* buffer = malloc(4 * (frames > 0 ? frames : 1));
  FILE* out = fopen(argv[2], "wb");
  if (buffer == NULL || out == NULL || fseek(out, 44, SEEK_SET) != 0) return 1;
  /* Written in blocks of 128 KiB, as the program writes its file. */
  static char block[128 * 1024];
  setvbuf(out, block, _IOFBF, sizeof block);
  size_t got;
  while ((got = zv_render(module, buffer, frames)) > 0) fwrite(buffer, 4, got, out);
  fclose(out);
  free(buffer);
  zv_free(module);
  return 0;
}
