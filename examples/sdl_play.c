/* Plays a module through SDL2's audio callback with libzelvix, the way a game
 * plays its music: the callback pulls every buffer from zv_render, looping
 * through the song's wrap (ZV_END_LOOP), while the main thread only waits.
 *
 *   sdl_play MODULE [-b frames] [-f hz] [-t seconds]
 *
 *   -b frames   frames per callback buffer, 16..65535 (default 1024; any
 *               number, not only powers of two)
 *   -f hz       mixing and device frequency, 8000..96000 (default 44100)
 *   -t seconds  play this long (a decimal number above 0), then close the
 *               device and exit
 *
 * Without -t it plays until Enter (or Ctrl-D) is pressed, when standard input
 * is a terminal and the program runs in the foreground; SIGINT (Ctrl-C) and
 * SIGTERM end it in any case, with or without -t. When standard input is no
 * terminal (a pipe, /dev/null, a job in the background) it is not read, and
 * only -t or a signal ends play.
 *
 * Exit status: 0 when play ended as asked; 1 when the module or the device
 * cannot be opened, or the stream ever gave fewer frames than a buffer
 * needed (which ZV_END_LOOP never should); 2 on a bad command line.
 *
 * SDL2's variables choose the device as usual: SDL_AUDIODRIVER=disk with
 * SDL_DISKAUDIOFILE=PATH writes what the device receives to a file.
 *
 * Build: cc -std=c99 sdl_play.c $(pkg-config --cflags --libs zelvix sdl2) */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <SDL.h>
#include <zelvix/zelvix.h>

/* Set by SIGINT and SIGTERM; the main thread polls it. */
static volatile sig_atomic_t stopRequested = 0;

static void onStopSignal(int sig) {
  (void)sig;
  stopRequested = 1;
}

/* What the callback reads: the handle, and how often the stream came up short. */
typedef struct Playback {
  zv_module* module;
  SDL_atomic_t shortBuffers;
} Playback;

/* SDL's audio callback: fills `len` bytes of 16-bit stereo from the stream;
 * frames the stream does not give are silence. Runs on SDL's audio thread,
 * only while the device is open and unpaused. */
static void SDLCALL fillBuffer(void* userdata, Uint8* stream, int len) {
  Playback* playback = (Playback*)userdata;
  const size_t frames = (size_t)len / 4;
  const size_t got = zv_render(playback->module, (int16_t*)(void*)stream, frames);
  if (got < frames) SDL_AtomicAdd(&playback->shortBuffers, 1);
  memset(stream + got * 4, 0, (size_t)len - got * 4);
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
  /* zv_render gives native samples; the device takes little-endian ones. */
  for (size_t i = 0; i < 2 * got; ++i) {
    Uint16* s = (Uint16*)(void*)stream + i;
    *s = SDL_Swap16(*s);
  }
#endif
}

/* Parses the whole of `text` as a long in [low, high] into *value; 0 if it
 * is no such number. */
static int parseLong(const char* text, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return 0;
  *value = v;
  return 1;
}

/* Parses the whole of `text` as a number of seconds above 0 and at most a
 * day into *seconds; 0 if it is none. */
static int parseSeconds(const char* text, double* seconds) {
  char* end = NULL;
  errno = 0;
  const double v = strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v > 0.0) || v > 86400.0) return 0;
  *seconds = v;
  return 1;
}

typedef struct Options {
  const char* module;
  long bufferFrames;
  long frequency;
  double seconds; /* 0: no play time */
} Options;

static int usage(const char* program) {
  fprintf(stderr, "usage: %s MODULE [-b frames (16..65535)] [-f hz (8000..96000)] [-t seconds]\n", program);
  return 2;
}

/* Reads the command line into *o; 0 on any argument it does not take. */
static int parseOptions(int argc, char** argv, Options* o) {
  o->module = NULL;
  o->bufferFrames = 1024;
  o->frequency = 44100;
  o->seconds = 0.0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const int hasValue = i + 1 < argc;
    if (strcmp(a, "-b") == 0 && hasValue) {
      if (!parseLong(argv[++i], 16, 65535, &o->bufferFrames)) return 0;
    } else if (strcmp(a, "-f") == 0 && hasValue) {
      if (!parseLong(argv[++i], 8000, 96000, &o->frequency)) return 0;
    } else if (strcmp(a, "-t") == 0 && hasValue) {
      if (!parseSeconds(argv[++i], &o->seconds)) return 0;
    } else if (a[0] != '-' && o->module == NULL) {
      o->module = a;
    } else {
      return 0;
    }
  }
  return o->module != NULL;
}

/* SIGINT and SIGTERM set stopRequested. Installed before SDL starts, which
 * is also told to leave the signals alone. */
static void installSignalHandlers(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
}

/* True when standard input is a terminal whose foreground this process is
 * in: reading it then neither blocks a pipe's writer nor stops a
 * background job. */
static int keysAvailable(void) {
  return isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
}

/* Waits until a stop is asked for: a signal, the play time `seconds` (0:
 * none) having passed, or a line or the end of input on the terminal. */
static void waitForStop(double seconds) {
  const Uint64 start = SDL_GetTicks64();
  const Uint64 playMs = (Uint64)(seconds * 1000.0 + 0.5);
  int watchKeys = keysAvailable();
  while (!stopRequested) {
    int timeout = 100; /* a signal that lands on another thread is seen within this */
    if (seconds > 0.0) {
      const Uint64 elapsed = SDL_GetTicks64() - start;
      if (elapsed >= playMs) return;
      if (playMs - elapsed < (Uint64)timeout) timeout = (int)(playMs - elapsed);
    }
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, watchKeys ? 1 : 0, timeout);
    if (ready > 0) {
      char line[256];
      const ssize_t n = read(STDIN_FILENO, line, sizeof line);
      if (n >= 0) return; /* a line, or Ctrl-D */
      if (errno != EINTR && errno != EAGAIN) watchKeys = 0;
    }
  }
}

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, &o)) return usage(argv[0]);

  zv_settings settings;
  zv_default_settings(&settings);
  settings.frequency = (int32_t)o.frequency;
  zv_error error;
  Playback playback;
  playback.module = zv_load_file(o.module, &settings, &error);
  if (playback.module == NULL) {
    fprintf(stderr, "%s: %s\n", o.module, zv_error_message(error));
    return 1;
  }
  SDL_AtomicSet(&playback.shortBuffers, 0);
  zv_set_end_mode(playback.module, ZV_END_LOOP);

  installSignalHandlers();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_AUDIO) != 0) {
    fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    zv_free(playback.module);
    return 1;
  }
  /* The frequency is in the library's range, so the device runs at the
   * module's own rate; SDL converts if the hardware cannot. */
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = (int)o.frequency;
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = (Uint16)o.bufferFrames;
  want.callback = fillBuffer;
  want.userdata = &playback;
  SDL_AudioSpec have;
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
  if (device == 0) {
    fprintf(stderr, "SDL_OpenAudioDevice: %s\n", SDL_GetError());
    SDL_Quit();
    zv_free(playback.module);
    return 1;
  }
  printf("Playing \"%s\" at %ld Hz, %ld frames a buffer%s\n", zv_printable_name(playback.module), o.frequency,
         o.bufferFrames, keysAvailable() ? "; Enter stops" : "");
  fflush(stdout);

  SDL_PauseAudioDevice(device, 0);
  waitForStop(o.seconds);
  /* Closing joins the audio thread: no callback runs after it, so the
   * handle may go. */
  SDL_CloseAudioDevice(device);
  const int shortBuffers = SDL_AtomicGet(&playback.shortBuffers);
  zv_free(playback.module);
  SDL_Quit();
  if (shortBuffers != 0) {
    fprintf(stderr, "%s: the stream came up short in %d buffers\n", o.module, shortBuffers);
    return 1;
  }
  return 0;
}
