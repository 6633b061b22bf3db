/* Handles share nothing: eight modules loaded and rendered at the same time
 * on eight threads, each through a handle of its own and in calls of varying
 * size, give the frames each gave alone on the main thread.
 *
 * The modules are the first eight of the corpus (ZELVIX_CORPUS_DIR, by name)
 * when it holds them, the rest the bundled demo; each of the eight gets other
 * settings. Exit status 0 when every render matches; 1 with a message for
 * each that does not, or when a module cannot be read or loaded. */
#define _POSIX_C_SOURCE 200809L

#include <dirent.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <zelvix/zelvix.h>

enum { kThreads = 8, kMaxCall = 9000 };

/* Frames rendered of each module (or fewer, where its song ends first):
 * half a minute at 48 kHz, long enough for the threads to overlap. */
static const uint64_t kFramesPerModule = 1500000;

/* Eight different settings: frequency, amp, interpolation, volume ramping. */
static const zv_settings kSettings[kThreads] = {
    {44100, 10, 1, 1}, {48000, 12, 1, 0}, {22050, 8, 0, 1}, {32000, 16, 0, 0},
    {96000, 10, 1, 1}, {8000, 32, 1, 1},  {11025, 4, 0, 1}, {44100, 1, 1, 0}};

/* What a render gave: frames, and a checksum of their bytes. */
typedef struct Result {
  uint64_t frames;
  uint64_t checksum;
  int loaded;
  int overran; /* a call returned more frames than asked */
} Result;

typedef struct Job {
  char name[512];
  unsigned char* bytes;
  size_t size;
  zv_settings settings;
  uint32_t seed; /* call sizes; 0: kMaxCall every call */
  Result alone;
  Result together;
} Job;

static pthread_barrier_t startTogether;

/* FNV-1a, 64 bits, over `n` bytes, continuing from `h`. */
static uint64_t fnv1a(uint64_t h, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211u;
  return h;
}

/* The next call size from *state, 1..kMaxCall; kMaxCall when *state is 0. */
static size_t nextCallSize(uint32_t* state) {
  if (*state == 0) return kMaxCall;
  *state = *state * 1664525u + 1013904223u;
  return 1 + (size_t)(*state >> 8) % kMaxCall;
}

/* Loads the job's module with its settings, renders up to kFramesPerModule
 * frames (stopping where its song ends) in calls sized by `seed`, and
 * frees it. */
static Result render(const Job* job, uint32_t seed) {
  static const uint64_t kBasis = 14695981039346656037u;
  Result r = {0, kBasis, 0, 0};
  zv_module* m = zv_load_memory(job->bytes, job->size, &job->settings, NULL);
  if (m == NULL) return r;
  r.loaded = 1;
  int16_t* buffer = malloc(sizeof(int16_t) * 2 * kMaxCall);
  while (buffer != NULL && r.frames < kFramesPerModule) {
    size_t ask = nextCallSize(&seed);
    if (ask > kFramesPerModule - r.frames) ask = (size_t)(kFramesPerModule - r.frames);
    const size_t got = zv_render(m, buffer, ask);
    if (got > ask) {
      r.overran = 1;
      break;
    }
    r.checksum = fnv1a(r.checksum, (const unsigned char*)buffer, got * 4);
    r.frames += got;
    if (got < ask) break; /* the song ended */
  }
  free(buffer);
  zv_free(m);
  return r;
}

static void* renderTogether(void* argument) {
  Job* job = (Job*)argument;
  pthread_barrier_wait(&startTogether);
  job->together = render(job, job->seed);
  return NULL;
}

/* The whole file at `path` into job->bytes; 0 if it cannot be read. */
static int readModule(Job* job, const char* path) {
  snprintf(job->name, sizeof job->name, "%s", path);
  FILE* f = fopen(path, "rb");
  if (f == NULL) return 0;
  long size = -1;
  if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
  job->bytes = size > 0 && fseek(f, 0, SEEK_SET) == 0 ? malloc((size_t)size) : NULL;
  job->size = job->bytes != NULL ? fread(job->bytes, 1, (size_t)size, f) : 0;
  fclose(f);
  return job->bytes != NULL && job->size == (size_t)size;
}

static int byName(const void* a, const void* b) {
  return strcmp(*(char* const*)a, *(char* const*)b);
}

static int isModuleName(const char* name) {
  const size_t n = strlen(name);
  return (n > 3 && strcasecmp(name + n - 3, ".xm") == 0) || (n > 4 && strcasecmp(name + n - 4, ".mod") == 0);
}

/* Up to `limit` module paths of `folder` in name order into `paths`
 * (allocated); returns how many. */
static int corpusModules(const char* folder, char** paths, int limit) {
  DIR* dir = opendir(folder);
  if (dir == NULL) return 0;
  char* names[1024];
  int count = 0;
  struct dirent* entry;
  while (count < 1024 && (entry = readdir(dir)) != NULL) {
    if (isModuleName(entry->d_name)) {
      names[count] = malloc(strlen(entry->d_name) + 1);
      if (names[count] != NULL) strcpy(names[count++], entry->d_name);
    }
  }
  closedir(dir);
  qsort(names, (size_t)count, sizeof names[0], byName);
  int taken = 0;
  for (int i = 0; i < count; ++i) {
    if (taken < limit) {
      paths[taken] = malloc(strlen(folder) + strlen(names[i]) + 2);
      if (paths[taken] != NULL) sprintf(paths[taken++], "%s/%s", folder, names[i]);
    }
    free(names[i]);
  }
  return taken;
}

int main(void) {
  static Job jobs[kThreads];
  char* paths[kThreads];
  const int fromCorpus = corpusModules(ZELVIX_CORPUS_DIR, paths, kThreads);
  int failures = 0;
  for (int i = 0; i < kThreads; ++i) {
    const char* path = i < fromCorpus ? paths[i] : ZELVIX_SOURCE_DIR "/examples/demo.xm";
    if (!readModule(&jobs[i], path)) {
      fprintf(stderr, "threads_test: cannot read %s\n", path);
      return 1;
    }
    jobs[i].settings = kSettings[i];
    jobs[i].seed = 1u + 7919u * (uint32_t)i;
    jobs[i].alone = render(&jobs[i], 0);
    if (!jobs[i].alone.loaded) {
      fprintf(stderr, "threads_test: %s does not load\n", path);
      return 1;
    }
    if (i < fromCorpus) free(paths[i]);
  }
  printf("threads_test: %d modules from the corpus, %d the demo\n", fromCorpus, kThreads - fromCorpus);

  pthread_t threads[kThreads];
  if (pthread_barrier_init(&startTogether, NULL, kThreads) != 0) return 1;
  for (int i = 0; i < kThreads; ++i) {
    if (pthread_create(&threads[i], NULL, renderTogether, &jobs[i]) != 0) {
      fprintf(stderr, "threads_test: cannot start thread %d\n", i);
      return 1; /* the started ones wait at the barrier for ever: end here */
    }
  }
  for (int i = 0; i < kThreads; ++i) pthread_join(threads[i], NULL);
  pthread_barrier_destroy(&startTogether);

  for (int i = 0; i < kThreads; ++i) {
    const Result* a = &jobs[i].alone;
    const Result* t = &jobs[i].together;
    if (a->overran || !t->loaded || t->overran || t->frames != a->frames || t->checksum != a->checksum) {
      fprintf(stderr,
              "threads_test: %s at %d Hz: alone %llu frames, checksum %016llx; on thread %d %s%s%llu frames, "
              "checksum %016llx\n",
              jobs[i].name, (int)jobs[i].settings.frequency, (unsigned long long)a->frames,
              (unsigned long long)a->checksum, i, t->loaded ? "" : "(no load) ",
              t->overran ? "(a call gave more than asked) " : "", (unsigned long long)t->frames,
              (unsigned long long)t->checksum);
      ++failures;
    }
    free(jobs[i].bytes);
  }
  if (failures != 0) return 1;
  printf("threads_test: eight renders together equal each alone\n");
  return 0;
}
