# Every kind of failure as the exception its caller catches, with the program's text, and no
# file changed by a call that failed.
import errno
import os
import resource
import signal
import subprocess
import sys

import pytest

import norvalex
from conftest import NAMES, PILLBOX, UNITS, map_bytes, read, write

POINT = ["1", "2", "3", "4", "5", "6"]

# (input bytes, line number, text after the location)
DEFECTIVE_MAPS = [
    (b"", 0, "Unexpected end of file"),
    (b"SF7\nZ and R increments: many\n\n", 2, "Unsupported header"),
    (b"SF7\nincrements: 1\n\nZ R Ez\n", 4, "Can not find 6 array names"),
    (map_bytes("1", [POINT], units=UNITS[:2] + ["(kV)"] + UNITS[3:]), 6,
     "Unknown unit: (kV) for column Ez"),
    (map_bytes("1 1", [POINT, POINT[:5]]), 8, "Error reading point (0,1)"),
    (map_bytes("1 1", [POINT] * 3), 9, "Unexpected end of file"),
]


@pytest.mark.parametrize("data, line, detail", DEFECTIVE_MAPS)
def test_an_input_defect_is_an_error_at_its_line(tmp_path, data, line, detail):
    path = write(tmp_path / "map.sf7", data)
    for call in (lambda: norvalex.read_sf7(path),
                 lambda: norvalex.convert(path, tmp_path / "out.tqs")):
        with pytest.raises(norvalex.Error) as caught:
            call()
        assert str(caught.value) == f"{path}({line}): {detail}"
        assert (caught.value.filename, caught.value.lineno) == (path, line)
        assert caught.value.message_number is None and isinstance(caught.value, ValueError)
    assert not os.path.exists(tmp_path / "out.tqs")


HEADER = b"\x75\x4c\x9f\x05" + b"\0" * 4 + b"HAND".ljust(32, b"\0")
BLOCK = b"x".ljust(16, b"\0") + b"\3\x08\0\0\x10\0\0\0"

# (file bytes, message number, text with the file name as {})
DEFECTIVE_TQS = [
    (b"not a TQS file at all, but long enough for a header", 3, '"{}": Not a TQ-File'),
    (HEADER + b"\1\2" + b"\0" * 6, 4, '"{}": Invalid TQS-version'),
    (HEADER + b"\1\1" + b"\0" * 6 + BLOCK + b"\0" * 15, 2, '"{}": Unexpected end of file'),
]


@pytest.mark.parametrize("data, number, text", DEFECTIVE_TQS)
def test_a_defective_tqs_file_is_a_numbered_message(tmp_path, data, number, text):
    path = write(tmp_path / "bad.tqs", data)
    for call in (norvalex.read_tqs, lambda p: norvalex.stats(p, "x")):
        with pytest.raises(norvalex.Error) as caught:
            call(path)
        assert str(caught.value) == text.format(path)
        assert (caught.value.filename, caught.value.message_number) == (path, number)
        assert caught.value.lineno is None


# (call on a path, what the path is, the OSError's class and errno)
MISSING = "missing"
FOLDER = "folder"
UNREACHABLE = "folder-that-does-not-exist/out.tqs"
FILE_FAILURES = [
    (norvalex.read_sf7, MISSING, FileNotFoundError, errno.ENOENT),
    (norvalex.read_sf7, FOLDER, IsADirectoryError, errno.EISDIR),
    (norvalex.read_tqs, FOLDER, IsADirectoryError, errno.EISDIR),
    (lambda p: norvalex.stats(p, "Ez"), MISSING, FileNotFoundError, errno.ENOENT),
    (lambda p: norvalex.write_tqs(p, {"x": [1]}), UNREACHABLE, FileNotFoundError, errno.ENOENT),
    (lambda p: norvalex.convert(PILLBOX + ".sf7", p), FOLDER, IsADirectoryError, errno.EISDIR),
    (lambda p: norvalex.convert(p, p + ".tqs"), MISSING, FileNotFoundError, errno.ENOENT),
]


@pytest.mark.parametrize("call, what, error, number", FILE_FAILURES)
def test_a_file_that_cannot_be_used_is_an_os_error(tmp_path, call, what, error, number):
    (tmp_path / FOLDER).mkdir()
    path = str(tmp_path / what)
    with pytest.raises(error) as caught:
        call(path)
    assert (caught.value.errno, caught.value.filename) == (number, path)
    assert caught.value.strerror == os.strerror(number)
    assert sorted(os.listdir(tmp_path)) == [FOLDER] and os.listdir(tmp_path / FOLDER) == []


def test_a_fifo_without_a_writer_is_refused_at_once(tmp_path):
    fifo = str(tmp_path / "fifo.tqs")
    os.mkfifo(fifo)  # that no program ever writes: an open that waits for a writer never returns
    child = f"""
import norvalex
for call in (norvalex.read_tqs, lambda path: norvalex.stats(path, "x")):
    try:
        call({fifo!r})
    except OSError as error:
        print(error.errno, error.strerror, error.filename)
"""
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True,
                            timeout=20)
    assert (result.stdout, result.stderr) == (f"{errno.ESPIPE} Illegal seek {fifo}\n" * 2, "")


# Every call on a path with a NUL in it, as str or bytes: the C++ side would end the path at the
# NUL, so each refuses it as open() does, before any file is read or written.
NUL_PATHS = [
    lambda p: norvalex.read_sf7(p),
    lambda p: norvalex.read_tqs(p),
    lambda p: norvalex.read_tqs(os.fsencode(p)),
    lambda p: norvalex.stats(p, "Ez"),
    lambda p: norvalex.write_tqs(p, {"x": [1]}),
    lambda p: norvalex.write_tqs(p, {"x": [1]}, append=True),
    lambda p: norvalex.convert(PILLBOX + ".sf7", p),
    lambda p: norvalex.convert(p, p[:p.index("\0")] + ".out"),
]


@pytest.mark.parametrize("call", NUL_PATHS)
def test_a_path_with_a_nul_is_refused_as_open_refuses_it(tmp_path, call):
    kept = write(tmp_path / "w.tqs", read(PILLBOX + ".tqs"))
    with pytest.raises(ValueError) as caught:
        call(kept + "\0/etc/passwd")
    assert str(caught.value) == "embedded null byte" and type(caught.value) is ValueError
    with pytest.raises(ValueError, match="^embedded null byte$"):
        open(kept + "\0/etc/passwd", "rb")
    assert os.listdir(tmp_path) == ["w.tqs"] and read(kept) == read(PILLBOX + ".tqs")


def test_memory_that_runs_out_is_a_memory_error(tmp_path):
    # 20001 x 20001 points: 3.2 GB a column, more than the address space left to the child.
    path = write(tmp_path / "huge.sf7", map_bytes("20000 20000", [POINT]))
    child = f"""
import resource, norvalex
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize"))
resource.setrlimit(resource.RLIMIT_AS, (size + 2**30, resource.RLIM_INFINITY))
try:
    norvalex.read_sf7({path!r})
except MemoryError as error:
    print(error)
"""
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True)
    assert (result.stdout, result.stderr) == ("Not enough memory\n", "")


# Calls that take seconds to hours, each interrupted by SIGINT 0.3 s in, as Ctrl-C does: the
# header search of /dev/zero, which never ends; ten million empty blocks (a sparse file of 240 MB)
# read, loaded for the statistics or looked through for a field mesh; 4 GB of doubles written over
# a file or appended to it; a field mesh of three million points written as text.
INTERRUPTED_CALLS = [
    "norvalex.read_sf7('/dev/zero')",
    "norvalex.convert('/dev/zero', 'out.tqs')",
    "norvalex.read_tqs('blocks.tqs')",
    "norvalex.stats('blocks.tqs', 'x')",
    "norvalex.write_tqs('kept.tqs', {'x': numpy.zeros(536870911)})",
    "norvalex.write_tqs('kept.tqs', {'x': numpy.zeros(536870911)}, append=True)",
    "norvalex.read_mesh('blocks.tqs')",
    # Three million points of an RF map written as a T7 file over kept.tqs.
    "norvalex.write_mesh('kept.tqs', norvalex.Mesh({'geometry': 'cylindrical', "
    "'axis_labels': ('r', 'theta', 'z'), 'grid_size': (1000, 1, 3000), "
    "'grid_spacing': (1e-3, 0, 1e-3), 'grid_origin_offset': (0, 0, 0), 'frequency': 1e9, "
    "'harmonic': 1, 'rf_phase': 0, 'field_scale': 1, 'anchor': 'beginning', 'file': '', "
    "'form': 't7', 'problem': 'rf'}, {'electricField/z': numpy.ones((1000, 1, 3000), complex)}, "
    "{}, {}), format='t7')",
]


@pytest.mark.parametrize("call", INTERRUPTED_CALLS)
def test_a_long_call_is_interrupted_by_sigint_at_once(tmp_path, call):
    with open(tmp_path / "blocks.tqs", "wb") as file:
        file.write(read(PILLBOX + ".tqs")[:48])
        file.truncate(48 + 24 * 10_000_000)
    write(tmp_path / "kept.tqs", read(PILLBOX + ".tqs"))
    child = f"""
import os, signal, threading, time, numpy, norvalex
os.chdir({str(tmp_path)!r})
threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
start = time.monotonic()
try:
    {call}
    print("returned")
except KeyboardInterrupt:
    print(time.monotonic() - start - 0.3)
"""
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True,
                            timeout=30)
    assert result.stderr == "" and result.stdout != "returned\n"
    assert float(result.stdout) < 1.0  # seconds from the signal to the exception
    # Nothing half-written: the file written over or appended to is as it was, none is new.
    assert sorted(os.listdir(tmp_path)) == ["blocks.tqs", "kept.tqs"]
    assert read(tmp_path / "kept.tqs") == read(PILLBOX + ".tqs")


@pytest.mark.parametrize("columns, error", [
    ({"sixteen-bytes-xx": [1]}, ValueError),
    ({"\u20ac": [1]}, ValueError),  # not one of the 256 characters of code page 437
    ({"x": [1], "text": ["a", "b"]}, TypeError),
])
def test_columns_are_checked_before_the_file_is_touched(tmp_path, columns, error):
    path = write(tmp_path / "kept.tqs", read(PILLBOX + ".tqs"))
    for append in (False, True):
        with pytest.raises(error):
            norvalex.write_tqs(path, columns, append=append)
        assert read(path) == read(PILLBOX + ".tqs")


@pytest.fixture
def file_size_limit():
    """Writes past 64 KiB fail with "File too large" while the limit holds."""
    limits = resource.getrlimit(resource.RLIMIT_FSIZE)
    handler = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, limits[1]))
    yield
    resource.setrlimit(resource.RLIMIT_FSIZE, limits)
    signal.signal(signal.SIGXFSZ, handler)


@pytest.mark.parametrize("append", [False, True])
def test_a_write_that_fails_midway_leaves_the_file_as_it_was(tmp_path, file_size_limit, append):
    path = write(tmp_path / "kept.tqs", read(PILLBOX + ".tqs"))
    with pytest.raises(OSError) as caught:
        norvalex.write_tqs(path, {"x": range(20000)}, append=append)
    assert caught.value.errno == errno.EFBIG
    assert read(path) == read(PILLBOX + ".tqs")
