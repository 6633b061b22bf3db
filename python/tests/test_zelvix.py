"""Tests of the zelvix Python module over libzelvix.

The library is the one `import zelvix` loads (ZELVIX_LIBRARY, else the
installed one). Renders are compared with the WAV data of the zelvix program
named by ZELVIX_PROGRAM, and real modules are read from ZELVIX_CORPUS_DIR;
the tests that need either skip without it. data/demo.xm is the project's
examples/demo.xm, kept beside the tests so that a copy of this folder runs
them anywhere.
"""

import contextlib
import ctypes
import gc
import itertools
import os
import pathlib
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

import zelvix
from zelvix import _capi

HERE = pathlib.Path(__file__).resolve().parent
DEMO = HERE / "data" / "demo.xm"
HEADER = HERE.parent.parent / "include" / "zelvix" / "zelvix.h"
PROGRAM = os.environ.get("ZELVIX_PROGRAM", "")
CORPUS = os.environ.get("ZELVIX_CORPUS_DIR", "")

# Real modules rendered by the comparisons: a short MOD, an XM, a 6-channel
# MOD, and an XM saved under a .mod name.
CORPUS_RENDERS = ["circuslinux__hiscreen.mod", "flobopuyo__flobopuyo_gameover.xm",
                  "freedroid__starpaws.mod", "tecnoballz__area1-game2.mod"]
# The program's options and the same settings as Module keywords.
SETTINGS = [
    ([], {}),
    (["-f", "22050", "-a", "20", "--no-intrp"], {"frequency": 22050, "amp": 20, "interpolation": False}),
    (["-f", "48000", "--no-vramp"], {"frequency": 48000, "volume_ramping": False}),
]


def corpus():
    """The corpus folder, or SkipTest."""
    if not CORPUS:
        raise unittest.SkipTest("ZELVIX_CORPUS_DIR is not set: no real modules")
    if not os.path.isdir(CORPUS):
        raise unittest.SkipTest("ZELVIX_CORPUS_DIR=%s is no folder" % CORPUS)
    return pathlib.Path(CORPUS)


def program_render(module, options):
    """The data of the WAV file `zelvix MODULE --render-to-wav OPTIONS` writes."""
    with tempfile.TemporaryDirectory() as folder:
        copy = pathlib.Path(folder) / module.name
        shutil.copyfile(module, copy)
        subprocess.run([PROGRAM, str(copy), "--render-to-wav", *options], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        wav = (pathlib.Path(folder) / (module.name + ".wav")).read_bytes()
    if int.from_bytes(wav[40:44], "little") != len(wav) - 44:
        raise AssertionError("%s: the WAV header's data size is not its data's" % module)
    return wav[44:]


@contextlib.contextmanager
def memory_bound(extra):
    """Limits the process's address space to `extra` bytes more than it uses."""
    used = int(pathlib.Path("/proc/self/statm").read_text().split()[0]) * resource.getpagesize()
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    bound = used + extra if hard == resource.RLIM_INFINITY else min(used + extra, hard)
    resource.setrlimit(resource.RLIMIT_AS, (bound, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


class StreamAssertions(unittest.TestCase):
    def assertSameStream(self, got, expected):
        """Equal bytes; on failure, says where the frames first differ."""
        if got == expected:
            return
        first = next((i for i in range(min(len(got), len(expected))) if got[i] != expected[i]),
                     min(len(got), len(expected)))
        self.fail("streams of %d and %d frames differ from frame %d on"
                  % (len(got) // 4, len(expected) // 4, first // 4))


@unittest.skipUnless(PROGRAM, "ZELVIX_PROGRAM is not set: no zelvix program to compare with")
class SameAsProgram(StreamAssertions):
    """render_all() and duration_frames against the program's WAV data."""

    def check(self, module):
        for options, keywords in SETTINGS:
            with self.subTest(module=module.name, options=" ".join(options)):
                expected = program_render(module, options)
                with zelvix.Module(module, **keywords) as song:
                    self.assertEqual(song.duration_frames * 4, len(expected))
                    self.assertSameStream(song.render_all(), expected)

    def test_demo(self):
        self.check(DEMO)

    def test_corpus(self):
        folder = corpus()
        for name in CORPUS_RENDERS:
            self.check(folder / name)


class Stream(StreamAssertions):
    @classmethod
    def setUpClass(cls):
        with zelvix.Module(DEMO) as song:
            cls.whole = song.render_all()
            cls.duration = song.duration_frames

    def test_pieces_equal_the_whole_stream(self):
        self.assertEqual(len(self.whole), 4 * self.duration)
        with zelvix.Module(DEMO) as song:
            pieces = []
            for frames in itertools.cycle([1, 7, 1000, 4093, 65536, 0]):
                piece = song.render(frames)
                pieces.append(piece)
                if len(piece) < 4 * frames:
                    break
            self.assertSameStream(b"".join(pieces), self.whole)
            self.assertEqual(song.render(100), b"")
            self.assertEqual(song.render_all(), b"")
            self.assertEqual(song.duration_frames, self.duration)
        with zelvix.Module(DEMO) as song:
            head = song.render(123457)
            self.assertSameStream(head + song.render_all(), self.whole)
            self.assertRaises(ValueError, song.render, -1)

    def test_loop_plays_on_through_the_wrap(self):
        with zelvix.Module(DEMO) as song:
            song.end_mode = zelvix.END_LOOP
            frames = self.duration + 44100
            looped = song.render(frames)
            self.assertEqual(len(looped), 4 * frames)
            self.assertSameStream(looped[:len(self.whole)], self.whole)
            # One second past the wrap: back at the restart position, rows on.
            self.assertEqual(song.order, song.restart_position)
            self.assertGreater(song.row, 0)
            with self.assertRaises(ValueError):
                song.end_mode = "forever"
            self.assertEqual(song.end_mode, zelvix.END_LOOP)
            # A looping stream never ends: without its refusal render_all()
            # would take memory until the machine has none.
            with memory_bound(1 << 30):
                self.assertRaises(ValueError, song.render_all)

    def test_master_volume(self):
        silence = bytes(len(self.whole))
        for volume, expected in [(0, silence), (-5, silence), (256, self.whole),
                                 (1000, self.whole), (2**40, self.whole)]:
            with self.subTest(volume=volume), zelvix.Module(DEMO) as song:
                song.master_volume = volume
                self.assertSameStream(song.render_all(), expected)
        with zelvix.Module(DEMO) as song:
            song.master_volume = 128
            self.assertEqual(song.master_volume, 128)
            half = song.render_all()
            self.assertNotIn(half, (silence, self.whole))
            self.assertEqual(len(half), len(self.whole))

    def test_position_and_jumps(self):
        with zelvix.Module(DEMO) as song:
            self.assertEqual((song.order, song.pattern, song.row, song.pattern_rows, song.speed,
                              song.tempo, song.active_voices), (0, 0, 0, 64, 6, 125, 0))
            song.render(5 * 44100)
            self.assertGreater(song.active_voices, 0)
            # Order list 0 1 2 3 4 2 5: entry and pattern differ from entry 5 on.
            for order, pattern in [(3, 3), (5, 2), (6, 5), (10**12, 5)]:
                with self.subTest(order=order):
                    song.jump_to_order(order)
                    song.render(1)
                    self.assertEqual((song.order, song.pattern, song.row), (min(order, 6), pattern, 0))
            self.assertRaises(ValueError, song.jump_to_order, -1)


class Information(unittest.TestCase):
    def test_demo(self):
        with zelvix.Module(DEMO) as song:
            self.assertEqual((song.format, song.xm_version, song.mod_signature), ("xm", 0x0104, ""))
            self.assertEqual((song.name, song.printable_name), (b"zelvix demo: glasswo", "zelvix demo: glasswo"))
            self.assertEqual((song.channels, song.song_length, song.restart_position), (10, 7, 0))
            self.assertEqual(song.frequency, 44100)
            self.assertEqual([(i.number, i.name, i.sample_names) for i in song.instruments], [
                (1, b"synth kick", (b"kick",)), (2, b"noise snare", (b"snare",)), (3, b"hi-hat", (b"hat",)),
                (4, b"pluck bass", (b"bass",)), (5, b"chorus pad", (b"pad",)), (6, b"glass bell", (b"bell",)),
                (7, b"pulse lead", (b"lead",)), (8, b"echo flute", (b"flute",))])

    def test_name_bytes_and_printable_name(self):
        data = bytearray(DEMO.read_bytes())
        data[17:37] = b"a\x01b\x7fc\x9f\xe9 ".ljust(20, b"\0")  # the XM header's name field
        with zelvix.Module(data) as song:
            self.assertEqual(song.name, b"a\x01b\x7fc\x9f\xe9 ")
            self.assertEqual(song.printable_name, "a.b.c.\xe9 ")

    def test_sources_load_alike(self):
        data = DEMO.read_bytes()
        with zelvix.Module(DEMO) as song:
            expected = (song.instruments, song.duration_frames, song.render(20000))
        for source in [str(DEMO), DEMO, data, bytearray(data), memoryview(data)]:
            with self.subTest(source=type(source).__name__), zelvix.Module(source) as song:
                self.assertEqual((song.instruments, song.duration_frames, song.render(20000)), expected)

    def test_corpus_formats(self):
        # The corpus's README table gives each module's format and signature.
        folder = corpus()
        rows = re.findall(r"^\| (\S+\.(?:xm|mod)) \| (XM|MOD(?: (\S+))?) \|", (folder / "README.md").read_text(),
                          re.MULTILINE)
        self.assertTrue(rows, "no modules listed in the corpus README")
        for name, kind, signature in rows:
            with self.subTest(module=name), zelvix.Module(folder / name) as song:
                self.assertEqual(song.format, kind.split()[0].lower())
                self.assertEqual(song.mod_signature, signature)
                self.assertEqual(song.xm_version == 0, song.format == "mod")


class Errors(unittest.TestCase):
    def test_load_failures(self):
        unraisable = []
        hook, sys.unraisablehook = sys.unraisablehook, unraisable.append
        try:
            data = DEMO.read_bytes()
            cases = [(HERE / "no such module.xm", zelvix.ErrorCode.READ), (HERE, zelvix.ErrorCode.READ),
                     (b"", zelvix.ErrorCode.NOT_A_MODULE), (b"no module " * 200, zelvix.ErrorCode.NOT_A_MODULE),
                     (data[:400], zelvix.ErrorCode.DAMAGED)]
            messages = {}
            for source, code in cases:
                with self.subTest(code=code.name), self.assertRaises(zelvix.Error) as caught:
                    zelvix.Module(source)
                self.assertEqual(caught.exception.code, code)
                messages[code] = caught.exception.message
                if isinstance(source, pathlib.Path):
                    self.assertIn(str(source), str(caught.exception))
            self.assertEqual(len(set(messages.values())), 3, messages)
            self.assertRaises(TypeError, zelvix.Module, 42)
            self.assertRaises(ValueError, zelvix.Module, str(DEMO) + "\0.xm")
            gc.collect()
        finally:
            sys.unraisablehook = hook
        self.assertEqual(unraisable, [])

    def test_closed_module_raises(self):
        song = zelvix.Module(DEMO)
        with song:
            song.render(10)
        self.assertTrue(song.closed)
        song.close()
        uses = [lambda: song.render(1), song.render_all, lambda: song.order, lambda: song.name,
                lambda: song.instruments, lambda: song.duration_frames, lambda: song.jump_to_order(0),
                lambda: setattr(song, "master_volume", 1), lambda: setattr(song, "end_mode", "loop"),
                song.__enter__]
        for number, use in enumerate(uses):
            with self.subTest(use=number):
                self.assertRaises(ValueError, use)


class Binding(unittest.TestCase):
    """The ctypes declarations against the C header, where the source tree is."""

    TYPES = {"void": None, "int": ctypes.c_int, "size_t": ctypes.c_size_t, "uint64_t": ctypes.c_uint64,
             "const char*": ctypes.c_char_p, "zv_module*": _capi.Handle, "const zv_module*": _capi.Handle,
             "int16_t*": ctypes.POINTER(ctypes.c_int16), "const void*": ctypes.c_void_p,
             "zv_settings*": ctypes.POINTER(_capi.Settings), "const zv_settings*": ctypes.POINTER(_capi.Settings),
             "zv_error*": ctypes.POINTER(ctypes.c_int), "zv_error": ctypes.c_int}

    def test_every_function_declared_as_the_header_does(self):
        if not HEADER.is_file():
            self.skipTest("no include/zelvix/zelvix.h beside these tests")
        header = HEADER.read_text()
        self.assertEqual(zelvix.version(), re.search(r'ZV_VERSION_STRING "([^"]+)"', header).group(1))
        declared = re.findall(r"ZV_API\s+([\w\s]+?\**)\s*(zv_\w+)\(([^)]*)\)", header)
        self.assertEqual({name for _, name, _ in declared}, _capi.FUNCTION_NAMES)
        for result, name, parameters in declared:
            with self.subTest(function=name):
                function = getattr(_capi.lib, name)
                arguments = [re.sub(r"\s*\w+$", "", p.strip()).replace(" *", "*")
                             for p in parameters.split(",") if p.strip() not in ("", "void")]
                self.assertIs(function.restype, self.TYPES[result.replace(" *", "*")])
                self.assertEqual(function.argtypes, [self.TYPES[a] for a in arguments])
        self.assertEqual(zelvix.__version__, zelvix.version())


if __name__ == "__main__":
    unittest.main()
