# Calls from several threads at once: each reading, writing and statistic has state of its own,
# so every thread gets what the same call gives alone, failures included.
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import norvalex
from conftest import bits, map_bytes, read, without_time, write


def test_calls_in_several_threads_give_what_they_give_alone(tmp_path):
    maps = []
    for k in range(4):  # maps of different shapes, each over more than one input block
        dim1, dim2 = 100 + k, 200 + k
        rows = [[f"{n * 1.25 + k:.6E}", f"{-n / 7:.4f}", *(f"{(n * j) % 97:d}" for j in
                                                            range(4))] for n in range(dim1 * dim2)]
        maps.append(write(tmp_path / f"map{k}.sf7", map_bytes(f"{dim1 - 1} {dim2 - 1}", rows)))
    broken = write(tmp_path / "broken.sf7", map_bytes("3 3", [["1"] * 6] * 5))

    def work(k):
        sf7 = maps[k % 4]
        tqs = str(tmp_path / f"out{k}.tqs")
        norvalex.convert(sf7, tqs)
        m = norvalex.read_sf7(sf7)
        norvalex.write_tqs(tqs + ".copy", m)
        t = norvalex.read_tqs(tqs)
        try:
            norvalex.read_sf7(broken)
        except norvalex.Error as error:
            failure = str(error)
        return (m.shape, [bits(v) for v in m.values()], [bits(v) for v in t.values()],
                without_time(read(tqs)) == without_time(read(tqs + ".copy")),
                norvalex.stats(tqs, "Ez"), failure)

    alone = [work(k) for k in range(4)]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(work, range(16)))
    for k, result in enumerate(together):
        expected = alone[k % 4]
        assert result[0] == expected[0] and result[3:] == expected[3:] and result[3]
        for got, want in zip(result[1] + result[2], expected[1] + expected[2], strict=True):
            assert np.array_equal(got, want)
