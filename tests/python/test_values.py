# What the module reads and writes against what the norvalex program writes: the same doubles,
# the same bytes, the axes of the physics.
import datetime

import numpy as np
import pytest

import norvalex
from conftest import (PILLBOX, bits, map_bytes, read, run_norvalex, tqs_blocks, without_time,
                      write)

# Numbers as solvers and hands write them: signed zeros, subnormals, the ends of the range and
# past them, hexadecimal, infinities and NaNs, long mantissas, bare points and exponents.
AWKWARD = ["0", "-0", "4.9406564584124654e-324", "-2.2250738585072009e-308",
           "1.5e302", "1e400", "-1e-400", "0x1.8p1", "inf", "-nan", "NAN",
           "0.30000000000000004", "123456789012345678901234567890", ".5", "-5.", "+1e+5",
           "9.999999E-01", "1.000000000000000000001", "2.5e-7", "-7.0000001E+03"]


def awkward_rows(count):
    return [[AWKWARD[(7 * n + 3 * k) % len(AWKWARD)] for k in range(6)] for n in range(count)]


MAPS = {  # name: (increments, rows)
    "awkward-grid": ("4 2", awkward_rows(15)),
    "awkward-line": ("6", awkward_rows(7)),
    "one-point": ("0 0", awkward_rows(1)),
}


@pytest.fixture(params=["pillbox", *MAPS])
def converted(request, tmp_path):
    """(SF7 path, path of the program's TQS output of it)"""
    if request.param == "pillbox":
        return PILLBOX + ".sf7", PILLBOX + ".tqs"
    sf7 = write(tmp_path / "map.sf7", map_bytes(*MAPS[request.param]))
    run_norvalex("-o", str(tmp_path / "map.tqs"), sf7)
    return sf7, str(tmp_path / "map.tqs")


def test_read_sf7_gives_the_programs_doubles(converted):
    sf7, tqs = converted
    m = norvalex.read_sf7(sf7)
    blocks = tqs_blocks(read(tqs))
    assert [column.name.encode("cp437") for column in m.columns] == [b[0] for b in blocks]
    for column, (_, _, data) in zip(m.columns, blocks, strict=True):
        assert column.values.shape == m.shape == (m.dim2, m.dim1)
        assert np.array_equal(bits(column.values), np.frombuffer(data, "<u8"))


def test_read_tqs_gives_the_blocks_back(converted):
    data = read(converted[1])
    t = norvalex.read_tqs(converted[1])
    assert (t.header.creator, t.header.second_name) == ("NORVALEX", "")
    assert (t.header.creator_version, t.header.second_version, t.header.format_version) == (
        (1, 0), (0, 0), (1, 1))
    assert t.header.created == datetime.datetime.fromtimestamp(
        int.from_bytes(data[4:8], "little", signed=True), datetime.timezone.utc)
    for block, (name, type_word, stored) in zip(t.blocks, tqs_blocks(data), strict=True):
        assert (block.name.encode("cp437"), block.type) == (name, type_word)
        assert block.value.dtype == np.float64 and block.value.tobytes() == stored


def test_convert_and_write_tqs_write_the_programs_bytes(converted, tmp_path):
    sf7, tqs = converted
    norvalex.convert(sf7, tmp_path / "converted.tqs")
    assert without_time(read(tmp_path / "converted.tqs")) == without_time(read(tqs))
    norvalex.write_tqs(tmp_path / "written.tqs", norvalex.read_sf7(sf7))
    assert without_time(read(tmp_path / "written.tqs")) == without_time(read(tqs))


def test_appended_series_read_back_with_their_creator_blocks(tmp_path):
    out = str(tmp_path / "series.tqs")
    run_norvalex("-a", out, PILLBOX + ".sf7")
    norvalex.convert(PILLBOX + ".sf7", out, append=True)
    norvalex.write_tqs(out, {"x": [1, 2.5], "empty": []}, append=True)
    data = read(out)
    run_norvalex("-a", str(tmp_path / "program.tqs"), PILLBOX + ".sf7")
    assert data.startswith(2 * read(tmp_path / "program.tqs"))

    t = norvalex.read_tqs(out)
    assert t.header is None
    names = ["Z", "R", "Ez", "Er", "|E|", "Bphi"]
    assert [b.name for b in t.blocks] == ["creator", *names, "creator", *names,
                                          "creator", "x", "empty"]
    assert [b.value for b in t.blocks if b.name == "creator"] == ["NORVALEX"] * 3
    assert t["x"].tolist() == [1, 2.5] and t["empty"].size == 0
    assert "Ez" not in t and len(t) == 2  # repeated names are found by none


@pytest.mark.parametrize("type_word, data, value", [
    (0x803, b"\0" * 7 + b"\x40", np.array([2.0])),
    (0x802, b"\1\0\0\0\2\0\0\0", np.array([1, 2], "<u4")),
    (0x820, b"abc", np.frombuffer(b"abc", "u1")),
    (0x401, b"\xb3E\xb3\0", "\u2502E\u2502"),
    (0x870, b"raw", b"raw"),
    (0x803, b"odd", b"odd"),
])
def test_read_tqs_gives_each_element_type_its_value(tmp_path, type_word, data, value):
    header = b"\x75\x4c\x9f\x05" + b"\0" * 4 + b"HAND".ljust(32, b"\0") + b"\1\1" + b"\0" * 6
    block = b"b".ljust(16, b"\0") + type_word.to_bytes(4, "little") + len(data).to_bytes(4,
                                                                                       "little")
    got = norvalex.read_tqs(write(tmp_path / "t.tqs", header + block + data))["b"]
    assert type(got) is type(value)
    assert np.array_equal(got, value) and getattr(got, "dtype", None) == getattr(value, "dtype",
                                                                                  None)


def test_the_first_named_coordinate_runs_along_the_last_axis(tmp_path):
    # Z and R increments 3 and 1: four Z values for each of two R values, Z varying fastest.
    rows = [[str(z), str(10 * r), str(z + 100 * r), "0", "0", "0"]
            for r in range(2) for z in range(4)]
    m = norvalex.read_sf7(write(tmp_path / "map.sf7", map_bytes("3 1", rows)))
    assert (m.dim1, m.dim2, m.shape) == (4, 2, (2, 4))
    assert m["Z"].tolist() == [[0, 0.01, 0.02, 0.03]] * 2
    assert m["R"].tolist() == [[0] * 4, [0.1] * 4]
    assert m["Ez"][1, 3] == 103e6  # row r = 1, column z = 3


def test_stats_are_the_librarys_with_none_where_it_reports_nothing(tmp_path):
    values = norvalex.read_sf7(PILLBOX + ".sf7")["Bphi"].ravel()
    got = norvalex.stats(PILLBOX + ".tqs", "Bphi")
    assert list(got) == ["Min", "Max", "Max-Min", "Avg", "Std", "Sum", "N"]
    assert (got["Min"], got["Max"], got["N"]) == (values.min(), values.max(), values.size)
    assert got["Std"] == pytest.approx(values.std(), rel=1e-12)
    one = str(tmp_path / "one.tqs")
    norvalex.write_tqs(one, {"x": [2]})
    assert norvalex.stats(one, "x") == {"Min": 2, "Max": 2, "Max-Min": 0, "Avg": 2, "Std": None,
                                        "Sum": 2, "N": 1}
    assert set(norvalex.stats(one, "missing").values()) == {None}
