/* zelvix: XM and MOD tracker modules for other programs to play.
 *
 * A module is loaded into a handle (zv_module), which holds everything its
 * playing needs: the song, its channels and voices, its output settings and
 * its place in the song. zv_render then fills the caller's buffer with
 * interleaved signed 16-bit stereo frames (left, right), from the first order
 * entry on, exactly as `zelvix --render-to-wav` writes them.
 *
 * Threads: handles are independent. Any number may exist, on any number of
 * threads; one handle is used by one thread at a time (calls on one handle
 * must not overlap). No function takes a lock other than the handle's own,
 * and zv_render allocates nothing.
 *
 * The library prints nothing, installs no signal handler, never exits, and
 * touches neither the terminal nor the sound device. A null handle or a null
 * pointer argument gives an error or 0, never a crash.
 *
 * Usable from C99 and C++. */
#ifndef ZELVIX_ZELVIX_H
#define ZELVIX_ZELVIX_H

#include <stddef.h>
#include <stdint.h>

/* The functions below are the library's whole interface: all it exports. */
#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version; zv_version() gives the one in use at run time. */
#define ZV_VERSION_MAJOR 1
#define ZV_VERSION_MINOR 1
#define ZV_VERSION_PATCH 0
#define ZV_VERSION_STRING "1.1.0"

typedef struct zv_module zv_module;

typedef enum zv_error {
  ZV_OK,                  /* success */
  ZV_ERROR_NOT_A_MODULE,  /* the bytes are no XM or MOD module */
  ZV_ERROR_DAMAGED,       /* an XM or MOD module that cannot be loaded */
  ZV_ERROR_OUT_OF_MEMORY,
  ZV_ERROR_READ,          /* the file cannot be opened or read whole */
  ZV_ERROR_ARGUMENT       /* a null handle or pointer, or a value with no meaning */
} zv_error;

/* Output settings, fixed for a handle's life. Values out of range are
 * clamped as the zelvix command line clamps them. */
typedef struct zv_settings {
  int32_t frequency;      /* mixing frequency in Hz, 8000..96000; default 44100 */
  int32_t amp;            /* mixing amplitude, 1..32; default 10 */
  int32_t interpolation;  /* linear interpolation: 0 off, other on; default on */
  int32_t volume_ramping; /* 5 ms volume ramps: 0 off, other on; default on */
} zv_settings;

/* End modes (zv_set_end_mode). */
enum {
  ZV_END_STOP = 0, /* stop where zelvix's render stops; the default */
  ZV_END_LOOP = 1  /* play on through the song's wrap, as live play does */
};

/* Formats (zv_format). */
enum { ZV_FORMAT_XM = 1, ZV_FORMAT_MOD = 2 };

/* ---------------------------------------------------------------- loading */

/* Fills *settings with the defaults of the zelvix program: 44100 Hz, amp 10,
 * interpolation and volume ramping on. Does nothing for null. */
ZV_API void zv_default_settings(zv_settings* settings);

/* Loads the module held in the `size` bytes at `data` (the format is
 * recognised by content). The bytes are read during the call only; the
 * handle keeps a copy of what it needs. `settings` null means the defaults.
 * Returns the handle, ready to render from the song's start with end mode
 * ZV_END_STOP and master volume 256, or null on failure. When `error` is not
 * null it receives ZV_OK or the reason: ZV_ERROR_ARGUMENT (null data, or
 * 4 GiB or more), ZV_ERROR_NOT_A_MODULE, ZV_ERROR_DAMAGED,
 * ZV_ERROR_OUT_OF_MEMORY. */
ZV_API zv_module* zv_load_memory(const void* data, size_t size, const zv_settings* settings,
                                 zv_error* error);

/* The same, reading the file at `path` whole first. A path that cannot be
 * opened or read whole (missing, not a regular file, 4 GiB or more) gives
 * ZV_ERROR_READ. */
ZV_API zv_module* zv_load_file(const char* path, const zv_settings* settings, zv_error* error);

/* Releases the handle and everything it holds. Does nothing for null. */
ZV_API void zv_free(zv_module* module);

/* A short English sentence for `error`, never null; also for values that are
 * no zv_error. The text is static. */
ZV_API const char* zv_error_message(zv_error error);

/* ---------------------------------------------------------------- rendering */

/* Writes up to `frames` stereo frames (2 x frames int16_t) at `out` and
 * returns the number written. The stream does not depend on how it is
 * asked for: calls of 1 frame, 7 frames or the whole song give the same
 * frames. With ZV_END_STOP the stream is the data of the WAV file that
 * `zelvix --render-to-wav` writes with the same settings (at master volume
 * 256): it ends where the song would start over (a move to a song position
 * landing on a row already played), at a speed-0 command, or where a WAV
 * file's size fields could hold no more (about 6.7 hours at 44100 Hz); a call
 * then returns fewer frames than asked, and 0 from then on. With
 * ZV_END_LOOP it never ends. Allocates nothing. Returns 0 for a null handle,
 * a null `out` or 0 frames. */
ZV_API size_t zv_render(zv_module* module, int16_t* out, size_t frames);

/* Sets the end mode, ZV_END_STOP or ZV_END_LOOP; it may change at any time
 * and applies from the next tick on (once a ZV_END_STOP stream has ended it
 * stays ended). Up to where ZV_END_STOP ends, both modes give the same
 * frames. Returns ZV_OK, or ZV_ERROR_ARGUMENT for a null handle or another
 * mode (the mode then stays). */
ZV_API int zv_set_end_mode(zv_module* module, int mode);

/* Sets the master volume applied to every 16-bit sample as live play
 * applies it: 0 (silence) .. 256 (unchanged, the default), clamped. It
 * applies from the next tick on. Returns ZV_OK, or ZV_ERROR_ARGUMENT for a
 * null handle. */
ZV_API int zv_set_master_volume(zv_module* module, int volume);

/* The frames zv_render gives under ZV_END_STOP from the song's start to its
 * end, found by running the song's ticks without mixing (whatever has been
 * rendered so far, which it does not disturb). 0 for a null handle. */
ZV_API uint64_t zv_duration_frames(const zv_module* module);

/* ---------------------------------------------------------------- position */

/* Jumps to the start of order entry `order` as zelvix's "+" and "-" keys do:
 * sounding notes are silenced, the global volume goes back to full and the
 * entry's pattern starts at row 0 with the next tick (the rest of the tick
 * under way plays out first). A break, position jump, loop or delay that
 * the row being left asked for is dropped, so the entry plays from its row
 * 0 on. An entry at or past the song's length means the last one. Returns
 * ZV_OK, or ZV_ERROR_ARGUMENT for a null handle or a negative `order`. */
ZV_API int zv_jump_to_order(zv_module* module, int order);

/* Where the song stands: the order entry, pattern and row that the next tick
 * plays or is playing, the speed (ticks per row), the tempo, and the
 * channels whose voice sounds. Each gives -1 for a null handle. */
ZV_API int zv_order(const zv_module* module);
ZV_API int zv_pattern(const zv_module* module);
ZV_API int zv_row(const zv_module* module);
ZV_API int zv_pattern_rows(const zv_module* module); /* rows of that pattern */
ZV_API int zv_speed(const zv_module* module);
ZV_API int zv_tempo(const zv_module* module);
ZV_API int zv_active_voices(const zv_module* module);

/* ---------------------------------------------------------------- information */

/* ZV_FORMAT_XM or ZV_FORMAT_MOD; 0 for a null handle. */
ZV_API int zv_format(const zv_module* module);
/* The XM format version (0x0102..0x0104); 0 for a MOD or a null handle. */
ZV_API int zv_xm_version(const zv_module* module);
/* The MOD form: its channel signature as stored ("M.K.", "8CHN", ...), or ""
 * for the 15-sample form without one; "" for an XM; null for a null handle. */
ZV_API const char* zv_mod_signature(const zv_module* module);

/* The module's name as stored: up to 20 bytes, not trimmed, ending at the
 * first zero byte; null for a null handle. */
ZV_API const char* zv_name(const zv_module* module);
/* The same name with every control byte (0x01-0x1F, 0x7F, 0x80-0x9F) shown as
 * ".", as zelvix prints it; null for a null handle. */
ZV_API const char* zv_printable_name(const zv_module* module);

/* The mixing frequency in Hz, after clamping: the sample rate of the
 * frames; -1 for a null handle. */
ZV_API int zv_frequency(const zv_module* module);

/* The song's channels (2..32), song length (order entries played) and
 * restart position; -1 for a null handle. */
ZV_API int zv_channels(const zv_module* module);
ZV_API int zv_song_length(const zv_module* module);
ZV_API int zv_restart_position(const zv_module* module);

/* Instruments are numbered 1..zv_instruments(), samples of an instrument
 * 0..zv_samples(instrument) - 1 (a MOD's instrument is its one sample).
 * Names are the stored bytes (up to 22), ending at the first zero byte.
 * Counts give -1 for a null handle and 0 for an instrument out of range;
 * names give null for a null handle or numbers out of range. Strings
 * returned by these functions live as long as the handle. */
ZV_API int zv_instruments(const zv_module* module);
ZV_API const char* zv_instrument_name(const zv_module* module, int instrument);
ZV_API int zv_samples(const zv_module* module, int instrument);
ZV_API const char* zv_sample_name(const zv_module* module, int instrument, int sample);

/* The library's version at run time, as "1.1.0"; never null. */
ZV_API const char* zv_version(void);

#ifdef __cplusplus
}
#endif

#endif /* ZELVIX_ZELVIX_H */
