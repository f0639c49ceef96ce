# Helpers of the Python module's tests: field maps written here, the built program run as users
# run it, and TQS bytes taken apart independently of the module. CTest sets NORVALEX_BINARY,
# NORVALEX_SOURCE_DIR and PYTHONPATH (the build's python/ folder).
import os
import struct
import subprocess

import numpy as np

NORVALEX = os.environ["NORVALEX_BINARY"]
SOURCE_DIR = os.environ["NORVALEX_SOURCE_DIR"]
PILLBOX = os.path.join(SOURCE_DIR, "examples", "pillbox-tm010")

NAMES = ["Z", "R", "Ez", "Er", "\xb3E\xb3", "H\xed"]  # the last two in code page 437
UNITS = ["(cm)", "(cm)", "(MV/m)", "(MV/m)", "(MV/m)", "(A/m)"]


def map_bytes(increments, rows, names=NAMES, units=UNITS):
    """An SF7 field map: header, names, units and one line per row of number texts."""
    lines = ["Test map", "Program SF7 fixture", f"Z and R increments: {increments}", "",
             "  ".join(names), "  ".join(units)]
    lines += ["  ".join(row) for row in rows]
    return ("\n".join(lines) + "\n").encode("latin-1")


def write(path, data):
    with open(path, "wb") as file:
        file.write(data)
    return str(path)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def run_norvalex(*args):
    result = subprocess.run([NORVALEX, *args], capture_output=True)
    assert result.returncode == 0, result.stderr
    return result


def tqs_blocks(data):
    """(name, type word, data bytes) of every block, after the header when there is one."""
    offset = 48 if data[:4] == b"\x75\x4c\x9f\x05" else 0
    blocks = []
    while offset < len(data):
        name, type_word, size = struct.unpack_from("<16sII", data, offset)
        offset += 24
        blocks.append((name.split(b"\0")[0], type_word, data[offset:offset + size]))
        offset += size
    return blocks


def without_time(data):
    """TQS bytes with the creation time (bytes 4 to 7 of a header) blanked."""
    return data[:4] + b"\0" * 4 + data[8:] if data[:4] == b"\x75\x4c\x9f\x05" else data


def bits(values):
    """The bits of doubles, so that equal NaNs compare equal."""
    return np.ascontiguousarray(values, dtype="<f8").view("<u8").ravel()
