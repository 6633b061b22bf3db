"""The C interface of libzelvix (include/zelvix/zelvix.h) through ctypes.

Loads the shared library once, at import: the file named by the environment
variable ZELVIX_LIBRARY when it is set and not empty, else ``libzelvix.so.1``
found by the dynamic loader (the installed library). Every function gets its
argument and result types here, so no call falls back to ctypes' default of
``int`` (which would cut 64-bit pointers).

This module is internal; the package's ``__init__`` builds on it.
"""

import ctypes
import os

OK = 0
ERROR_NOT_A_MODULE = 1
ERROR_DAMAGED = 2
ERROR_OUT_OF_MEMORY = 3
ERROR_READ = 4
ERROR_ARGUMENT = 5

END_STOP = 0
END_LOOP = 1

FORMAT_XM = 1
FORMAT_MOD = 2

INT_MIN = -(2**31)
INT_MAX = 2**31 - 1


class Settings(ctypes.Structure):
    """zv_settings: output settings, fixed for a handle's life."""

    _fields_ = [
        ("frequency", ctypes.c_int32),
        ("amp", ctypes.c_int32),
        ("interpolation", ctypes.c_int32),
        ("volume_ramping", ctypes.c_int32),
    ]


class _Handle(ctypes.Structure):
    """The opaque zv_module; only pointers to it are ever made."""


Handle = ctypes.POINTER(_Handle)

_c_int = ctypes.c_int
_c_char_p = ctypes.c_char_p

# name: (result type, argument types)
_FUNCTIONS = {
    "zv_default_settings": (None, [ctypes.POINTER(Settings)]),
    "zv_load_memory": (Handle, [ctypes.c_void_p, ctypes.c_size_t, ctypes.POINTER(Settings),
                                ctypes.POINTER(_c_int)]),
    "zv_load_file": (Handle, [_c_char_p, ctypes.POINTER(Settings), ctypes.POINTER(_c_int)]),
    "zv_free": (None, [Handle]),
    "zv_error_message": (_c_char_p, [_c_int]),
    "zv_render": (ctypes.c_size_t, [Handle, ctypes.POINTER(ctypes.c_int16), ctypes.c_size_t]),
    "zv_set_end_mode": (_c_int, [Handle, _c_int]),
    "zv_set_master_volume": (_c_int, [Handle, _c_int]),
    "zv_duration_frames": (ctypes.c_uint64, [Handle]),
    "zv_jump_to_order": (_c_int, [Handle, _c_int]),
    "zv_order": (_c_int, [Handle]),
    "zv_pattern": (_c_int, [Handle]),
    "zv_row": (_c_int, [Handle]),
    "zv_pattern_rows": (_c_int, [Handle]),
    "zv_speed": (_c_int, [Handle]),
    "zv_tempo": (_c_int, [Handle]),
    "zv_active_voices": (_c_int, [Handle]),
    "zv_format": (_c_int, [Handle]),
    "zv_xm_version": (_c_int, [Handle]),
    "zv_mod_signature": (_c_char_p, [Handle]),
    "zv_name": (_c_char_p, [Handle]),
    "zv_printable_name": (_c_char_p, [Handle]),
    "zv_frequency": (_c_int, [Handle]),
    "zv_channels": (_c_int, [Handle]),
    "zv_song_length": (_c_int, [Handle]),
    "zv_restart_position": (_c_int, [Handle]),
    "zv_instruments": (_c_int, [Handle]),
    "zv_instrument_name": (_c_char_p, [Handle, _c_int]),
    "zv_samples": (_c_int, [Handle, _c_int]),
    "zv_sample_name": (_c_char_p, [Handle, _c_int, _c_int]),
    "zv_version": (_c_char_p, []),
}

FUNCTION_NAMES = frozenset(_FUNCTIONS)


def _load():
    path = os.environ.get("ZELVIX_LIBRARY", "")
    name = path if path else "libzelvix.so.1"
    try:
        library = ctypes.CDLL(name)
    except OSError as error:
        where = "ZELVIX_LIBRARY=" + path if path else "the installed libzelvix.so.1"
        raise ImportError("zelvix: cannot load %s: %s" % (where, error)) from error
    for function, (result, arguments) in _FUNCTIONS.items():
        entry = getattr(library, function)
        entry.restype = result
        entry.argtypes = arguments
    return library


lib = _load()


def clamp_int(value):
    """An integer held to C's int range, so that ctypes does not wrap it."""
    return max(INT_MIN, min(INT_MAX, value))
