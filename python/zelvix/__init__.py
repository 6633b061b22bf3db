"""zelvix: XM and MOD tracker modules rendered to 16-bit stereo sound.

A thin binding of libzelvix's C interface through ctypes. The library is the
file named by the environment variable ZELVIX_LIBRARY when it is set and not
empty, else the installed ``libzelvix.so.1``; importing the package fails
with ImportError when neither can be loaded.

    import zelvix
    with zelvix.Module("song.xm") as song:
        pcm = song.render_all()     # the data of `zelvix song.xm --render-to-wav`

A Module's frames are interleaved little-endian signed 16-bit stereo
(left, right), 4 bytes a frame, at the module's mixing frequency.

Threads: each Module serialises its own calls with a lock, so a Module shared
between threads is safe (if not useful); separate Modules run side by side.
"""

import enum
import operator
import os
import sys
import threading
from dataclasses import dataclass

from . import _capi

__all__ = ["Module", "Instrument", "Error", "ErrorCode", "END_STOP", "END_LOOP",
           "version", "__version__"]

END_STOP = "stop"
END_LOOP = "loop"
_END_MODES = {END_STOP: _capi.END_STOP, END_LOOP: _capi.END_LOOP}
_FORMATS = {_capi.FORMAT_XM: "xm", _capi.FORMAT_MOD: "mod"}

# Frames asked for per call by render_all: 1 MiB of output at a time.
_RENDER_ALL_CHUNK = 1 << 18


def version():
    """The version of the loaded libzelvix, as "1.1.0" (zv_version)."""
    return _capi.lib.zv_version().decode("ascii")


__version__ = version()


class ErrorCode(enum.IntEnum):
    """The C interface's zv_error values."""

    OK = _capi.OK
    NOT_A_MODULE = _capi.ERROR_NOT_A_MODULE
    DAMAGED = _capi.ERROR_DAMAGED
    OUT_OF_MEMORY = _capi.ERROR_OUT_OF_MEMORY
    READ = _capi.ERROR_READ
    ARGUMENT = _capi.ERROR_ARGUMENT


class Error(Exception):
    """A failure reported by libzelvix.

    Attributes: ``code``, the zv_error value (an ErrorCode, or a plain int
    for a value this binding does not know); ``message``, the library's
    sentence for it (zv_error_message); ``filename``, the path of a failed
    file load, else None.
    """

    def __init__(self, code, filename=None):
        try:
            code = ErrorCode(code)
        except ValueError:
            pass
        self.code = code
        self.message = _capi.lib.zv_error_message(int(code)).decode("utf-8", "replace")
        self.filename = filename
        super().__init__(self.message)

    def __str__(self):
        if self.filename is None:
            return self.message
        return "%s: %s" % (os.fsdecode(self.filename), self.message)


@dataclass(frozen=True)
class Instrument:
    """One instrument of a module: its number (from 1), its name and the
    names of its samples, all as the stored bytes (ending at the first zero
    byte). A MOD's instrument is its one sample, under that sample's name."""

    number: int
    name: bytes
    sample_names: tuple


def _module_bytes(source):
    """The bytes of a bytes-like module source; TypeError for anything else."""
    if isinstance(source, bytes):
        return source
    try:
        view = memoryview(source)
    except TypeError:
        raise TypeError("zelvix.Module source must be a path or bytes-like, not %s"
                        % type(source).__name__) from None
    with view:
        return view.tobytes()


def _native_to_little_endian(data):
    if sys.byteorder == "little":
        return data
    import array
    samples = array.array("h", data)
    samples.byteswap()
    return samples.tobytes()


class Module:
    """A loaded XM or MOD module and its place in the song (one zv_module).

    ``source`` is the module file's path (str or os.PathLike), read whole
    with zv_load_file, or its content (bytes, bytearray, memoryview or any
    other buffer), copied and read with zv_load_memory. The format is
    recognised by content. The settings are fixed for the Module's life; a
    setting left as None takes the library's default (zv_default_settings:
    44100 Hz, amp 10, interpolation and volume ramping on). Values out of
    range are clamped as the zelvix command line clamps them (frequency
    8000..96000, amp 1..32).

    A new Module renders from the song's start, in end mode "stop", at
    master volume 256.

    Raises zelvix.Error (code READ, NOT_A_MODULE, DAMAGED, OUT_OF_MEMORY or
    ARGUMENT) when the module cannot be loaded, TypeError for a source or
    setting of the wrong type, ValueError for a path holding a zero byte.

    The handle is released by close(), at the end of a ``with`` block, or
    when the object is collected. Any use after close() raises ValueError.
    """

    def __init__(self, source, frequency=None, amp=None, interpolation=None,
                 volume_ramping=None):
        self._handle = None
        self._lock = threading.Lock()
        settings = _capi.Settings()
        _capi.lib.zv_default_settings(settings)
        if frequency is not None:
            settings.frequency = _capi.clamp_int(operator.index(frequency))
        if amp is not None:
            settings.amp = _capi.clamp_int(operator.index(amp))
        if interpolation is not None:
            settings.interpolation = 1 if interpolation else 0
        if volume_ramping is not None:
            settings.volume_ramping = 1 if volume_ramping else 0
        error = _capi.ctypes.c_int(_capi.OK)
        if isinstance(source, (str, os.PathLike)):
            path = os.fsencode(source)
            if b"\0" in path:
                raise ValueError("zelvix.Module: embedded null byte in path")
            handle = _capi.lib.zv_load_file(path, settings, error)
            filename = source
        else:
            data = _module_bytes(source)
            handle = _capi.lib.zv_load_memory(data, len(data), settings, error)
            filename = None
        if not handle:
            raise Error(error.value, filename)
        self._handle = handle
        self._end_mode = END_STOP
        self._master_volume = 256

    # ------------------------------------------------------------ life

    # Held by the class, so that a collection late in interpreter shutdown
    # still finds it.
    _free = _capi.lib.zv_free

    def close(self):
        """Releases the handle (zv_free). Calling it again does nothing."""
        with self._lock:
            handle, self._handle = self._handle, None
        if handle:
            self._free(handle)

    @property
    def closed(self):
        """True once close() has run."""
        return self._handle is None

    def __enter__(self):
        self._check_open()
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __del__(self):
        # getattr: __init__ may have failed before the handle was set.
        if getattr(self, "_handle", None):
            self.close()

    def __repr__(self):
        if self.closed:
            return "<zelvix.Module closed>"
        return "<zelvix.Module %s %r, %d channels>" % (self.format, self.printable_name,
                                                      self.channels)

    def _check_open(self):
        if self._handle is None:
            raise ValueError("operation on a closed zelvix.Module")

    def _call(self, function, *arguments):
        with self._lock:
            self._check_open()
            return function(self._handle, *arguments)

    # ------------------------------------------------------------ rendering

    @property
    def frequency(self):
        """The mixing frequency in Hz, as the library uses it (clamped)."""
        return self._call(_capi.lib.zv_frequency)

    def render(self, frames):
        """Renders the next ``frames`` stereo frames (zv_render) and returns
        them as bytes, 4 a frame; moves the song on by as much. In end mode
        "stop" the result is shorter at the song's end, and b"" from then on.
        Raises ValueError for a negative count or a closed Module."""
        frames = operator.index(frames)
        if frames < 0:
            raise ValueError("frames must not be negative")
        if frames == 0:
            self._check_open()
            return b""
        buffer = (_capi.ctypes.c_int16 * (2 * frames))()
        written = self._call(_capi.lib.zv_render, buffer, frames)
        return _native_to_little_endian(memoryview(buffer).cast("B")[:4 * written].tobytes())

    def render_all(self):
        """Renders the rest of the song, from where it stands to the end of
        the stop-mode stream, and returns it as bytes. From a new Module this
        is the data of the WAV file ``zelvix --render-to-wav`` writes with
        the same settings. In end mode "loop" the stream never ends, so this
        raises ValueError instead of running out of memory; render(frames)
        gives any length of it. Also ValueError for a closed Module."""
        self._check_open()
        if self._end_mode != END_STOP:
            raise ValueError("render_all() needs end mode 'stop': a looping song never ends")
        buffer = (_capi.ctypes.c_int16 * (2 * _RENDER_ALL_CHUNK))()
        pieces = []
        while True:
            written = self._call(_capi.lib.zv_render, buffer, _RENDER_ALL_CHUNK)
            pieces.append(memoryview(buffer).cast("B")[:4 * written].tobytes())
            if written < _RENDER_ALL_CHUNK:
                break
        return _native_to_little_endian(b"".join(pieces))

    @property
    def duration_frames(self):
        """Frames of the stop-mode stream from the song's start to its end
        (zv_duration_frames), whatever has been rendered; reading it does not
        move the song."""
        return self._call(_capi.lib.zv_duration_frames)

    @property
    def end_mode(self):
        """"stop" (zelvix.END_STOP): the stream ends where the song would
        start over, as the zelvix render does; the default. "loop"
        (zelvix.END_LOOP): it plays on through the wrap, as live play does.
        Setting it applies from the next tick on; a stop-mode stream that has
        ended stays ended. Setting another value raises ValueError."""
        self._check_open()
        return self._end_mode

    @end_mode.setter
    def end_mode(self, mode):
        if mode not in _END_MODES:
            raise ValueError("end_mode must be %r or %r, not %r" % (END_STOP, END_LOOP, mode))
        with self._lock:
            self._check_open()
            if _capi.lib.zv_set_end_mode(self._handle, _END_MODES[mode]) != _capi.OK:
                raise Error(_capi.ERROR_ARGUMENT)
            self._end_mode = mode

    @property
    def master_volume(self):
        """The master volume applied to every sample, 0 (silence) .. 256
        (unchanged, the default). Setting it applies from the next tick on;
        values out of range are clamped. TypeError for a non-integer."""
        self._check_open()
        return self._master_volume

    @master_volume.setter
    def master_volume(self, volume):
        volume = operator.index(volume)
        with self._lock:
            self._check_open()
            _capi.lib.zv_set_master_volume(self._handle, _capi.clamp_int(volume))
            self._master_volume = min(256, max(0, volume))

    # ------------------------------------------------------------ position

    def jump_to_order(self, order):
        """Jumps to the start of order entry ``order`` as zelvix's "+" and "-"
        keys do (zv_jump_to_order): sounding notes stop, the global volume
        goes back to full and the entry's pattern starts at row 0 with the
        next tick. An entry at or past the song's length means the last one.
        Raises ValueError for a negative order or a closed Module."""
        order = operator.index(order)
        if order < 0:
            raise ValueError("order must not be negative")
        self._call(_capi.lib.zv_jump_to_order, min(order, _capi.INT_MAX))

    @property
    def order(self):
        """The order entry the next tick plays or is playing."""
        return self._call(_capi.lib.zv_order)

    @property
    def pattern(self):
        """The pattern the next tick plays or is playing."""
        return self._call(_capi.lib.zv_pattern)

    @property
    def row(self):
        """The row of that pattern the next tick plays or is playing."""
        return self._call(_capi.lib.zv_row)

    @property
    def pattern_rows(self):
        """The rows of the current pattern."""
        return self._call(_capi.lib.zv_pattern_rows)

    @property
    def speed(self):
        """The current speed, in ticks per row."""
        return self._call(_capi.lib.zv_speed)

    @property
    def tempo(self):
        """The current tempo."""
        return self._call(_capi.lib.zv_tempo)

    @property
    def active_voices(self):
        """The channels whose voice sounds now."""
        return self._call(_capi.lib.zv_active_voices)

    # ------------------------------------------------------------ information

    @property
    def format(self):
        """The module's format: "xm" or "mod"."""
        return _FORMATS[self._call(_capi.lib.zv_format)]

    @property
    def xm_version(self):
        """The XM format version (0x0102..0x0104); 0 for a MOD."""
        return self._call(_capi.lib.zv_xm_version)

    @property
    def mod_signature(self):
        """A MOD's channel signature as stored ("M.K.", "8CHN", ...) as str;
        "" for the 15-sample form without one and for an XM."""
        return self._call(_capi.lib.zv_mod_signature).decode("latin-1")

    @property
    def name(self):
        """The module's name as stored: up to 20 bytes, not trimmed."""
        return self._call(_capi.lib.zv_name)

    @property
    def printable_name(self):
        """The name with every control byte shown as ".", as zelvix prints
        it, decoded as Latin-1 (one character a byte)."""
        return self._call(_capi.lib.zv_printable_name).decode("latin-1")

    @property
    def channels(self):
        """The song's channels (2..32)."""
        return self._call(_capi.lib.zv_channels)

    @property
    def song_length(self):
        """The order entries the song plays."""
        return self._call(_capi.lib.zv_song_length)

    @property
    def restart_position(self):
        """The order entry the song wraps to."""
        return self._call(_capi.lib.zv_restart_position)

    @property
    def instruments(self):
        """The instruments, numbered from 1, as a tuple of Instrument."""
        with self._lock:
            self._check_open()
            lib, handle = _capi.lib, self._handle
            result = []
            for number in range(1, lib.zv_instruments(handle) + 1):
                samples = tuple(lib.zv_sample_name(handle, number, s)
                                for s in range(lib.zv_samples(handle, number)))
                result.append(Instrument(number, lib.zv_instrument_name(handle, number), samples))
            return tuple(result)
