/* Renders a module to a 16-bit stereo WAV file through libzelvix: the same
 * bytes as `zelvix MODULE --render-to-wav` with the same options.
 *
 *   render MODULE OUTPUT.wav [-f hz] [-a amp] [--no-intrp] [--no-vramp]
 *
 * Build: cc -std=c99 render.c $(pkg-config --cflags --libs zelvix) */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zelvix/zelvix.h>

static void put32(unsigned char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = (unsigned char)(v >> (8 * i));
}

/* The 44-byte header of PCM data: 16-bit stereo at `rate` Hz, `bytes` long. */
static void wavHeader(unsigned char* h, uint32_t rate, uint32_t bytes) {
  memset(h, 0, 44);
  memcpy(h, "RIFF", 4);
  put32(h + 4, bytes + 36);
  memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  h[20] = 1; /* PCM */
  h[22] = 2; /* channels */
  put32(h + 24, rate);
  put32(h + 28, rate * 4);
  h[32] = 4;  /* bytes per frame */
  h[34] = 16; /* bits per sample */
  memcpy(h + 36, "data", 4);
  put32(h + 40, bytes);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s MODULE OUTPUT.wav [-f hz] [-a amp] [--no-intrp] [--no-vramp]\n", argv[0]);
    return 2;
  }
  zv_settings settings;
  zv_default_settings(&settings);
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "-f") == 0 && i + 1 < argc) settings.frequency = atoi(argv[++i]);
    else if (strcmp(argv[i], "-a") == 0 && i + 1 < argc) settings.amp = atoi(argv[++i]);
    else if (strcmp(argv[i], "--no-intrp") == 0) settings.interpolation = 0;
    else if (strcmp(argv[i], "--no-vramp") == 0) settings.volume_ramping = 0;
  }
  zv_error error;
  zv_module* module = zv_load_file(argv[1], &settings, &error);
  if (module == NULL) {
    fprintf(stderr, "%s: %s\n", argv[1], zv_error_message(error));
    return 1;
  }
  FILE* out = fopen(argv[2], "wb");
  if (out == NULL) {
    perror(argv[2]);
    zv_free(module);
    return 1;
  }
  /* The header first with the sizes the song's length gives. */
  const uint64_t frames = zv_duration_frames(module);
  unsigned char header[44];
  /* The rate the library mixes at, clamped as zelvix clamps it. */
  wavHeader(header, (uint32_t)zv_frequency(module), (uint32_t)(frames * 4));
  int ok = fwrite(header, 1, sizeof header, out) == sizeof header;
  static int16_t buffer[2 * 4096];
  size_t got;
  uint64_t written = 0;
  while (ok && (got = zv_render(module, buffer, 4096)) > 0) {
    ok = fwrite(buffer, 4, got, out) == got;
    written += got;
  }
  ok = fclose(out) == 0 && ok && written == frames;
  zv_free(module);
  if (!ok) {
    fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  return 0;
}
