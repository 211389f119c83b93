#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times imagenoise against the usual numpy ways, and examples/dask_noise.py against xargs -P 2
running funcao_exe, in alternating rounds; prints medians and ratios.

  python_bench.py <4096x4096 P5 file> <folder of 512x512 tiles> <funcao_exe> [runs]

The array part: impulse_noise(a, 50, 10) beside scikit-image's random_noise(a, mode='s&p',
amount=0.1) and beside numpy masks drawn from a uniform array; then four calls on one thread and
on two, which run at once since the module releases the GIL. The dataset part: every tile
noised once (white 30 %, density 10 %, as bench/run.sh's dataset), by the example's own code on a
LocalCluster of 2 workers (started once, its start timed apart) and by xargs -P 2 starting the
command once per tile, with and without --mask (the example always writes the masks)."""
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import imagenoise

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))
import dask_noise  # noqa: E402


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def numpy_masks(a, rng):
    r = rng.random(a.shape)
    out = a.copy()
    out[r < 0.05] = 255
    out[(r >= 0.05) & (r < 0.1)] = 0
    return out


def array_part(path, runs):
    a = imagenoise.read(path)
    rng = np.random.default_rng(1)
    try:
        from skimage.util import random_noise
    except ImportError:
        random_noise = None
    tools = {
        "imagenoise.impulse_noise(a, 50, 10)": lambda: imagenoise.impulse_noise(a, 50, 10),
        "numpy masks": lambda: numpy_masks(a, rng),
    }
    if random_noise is not None:
        tools["skimage random_noise s&p 0.1"] = lambda: random_noise(a, mode="s&p", amount=0.1)
    for tool in tools.values():
        tool()  # warm the caches and the imports
    times = {name: [] for name in tools}
    for _ in range(runs):
        for name, tool in tools.items():
            times[name].append(timed(tool))
    medians = {name: statistics.median(values) for name, values in times.items()}
    ours = medians["imagenoise.impulse_noise(a, 50, 10)"]
    print(f"\n{a.shape[0]}x{a.shape[1]} array, medians of {runs} rounds in seconds\n")
    print("| call | median | its time / impulse_noise's |")
    print("|---|---|---|")
    for name, median in medians.items():
        print(f"| {name} | {median:.4f} | {median / ours:.1f}x |")
    if random_noise is None:
        print("(scikit-image is not installed: Debian package python3-skimage)")

    # The GIL is released for the work: two threads do four calls in about half the time of one.
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(max_workers=2) as pool:
        def four_on_two_threads():
            list(pool.map(lambda seed: imagenoise.impulse_noise(a, 50, 10, seed=seed), range(4)))

        def four_on_one_thread():
            for seed in range(4):
                imagenoise.impulse_noise(a, 50, 10, seed=seed)

        two, one = [], []
        for _ in range(runs):
            two.append(timed(four_on_two_threads))
            one.append(timed(four_on_one_thread))
    print(f"\nfour calls: {statistics.median(one):.4f} s on one thread, "
          f"{statistics.median(two):.4f} s on two ({statistics.median(one) / statistics.median(two):.2f}x)")


def dataset_part(tiles, funcao_exe, runs):
    from dask.distributed import Client, LocalCluster

    tile_files = sorted(tiles.glob("*.pgm"))
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="dask_bench_"))
    try:
        started = time.perf_counter()
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
        client.wait_for_workers(2)
        cluster_start = time.perf_counter() - started
        try:
            options = dask_noise.arguments([str(tiles), str(scratch / "dask"), "--white", "30",
                                            "--densities", "10"])
            jobs = dask_noise.make_jobs(options)
            settings = {"white": "30", "exact": False, "impulse": "fixed", "format": None}
            batch = max(1, -(-len(jobs) // 8))

            def with_dask():
                fresh(scratch / "dask")
                dask_noise.run(client, jobs, settings, batch)

            def with_xargs(*mask):
                out = fresh(scratch / "xargs")
                lines = "".join(
                    f"{t} {out / t.name} 30 10" + (f" {' '.join(mask)} {out / ('m_' + t.name)}"
                                                   if mask else "") + "\n"
                    for t in tile_files)
                subprocess.run(["xargs", "-P", "2", "-L", "1", str(funcao_exe)], input=lines,
                               text=True, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)

            tools = {"dask_noise.py (2 workers)": with_dask,
                     "xargs -P 2 funcao_exe": with_xargs,
                     "xargs -P 2 funcao_exe --mask": lambda: with_xargs("--mask")}
            with_dask()  # the workers import the module and warm up
            times = {name: [] for name in tools}
            for _ in range(runs):
                for name, tool in tools.items():
                    times[name].append(timed(tool))
        finally:
            client.close()
            cluster.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    medians = {name: statistics.median(values) for name, values in times.items()}
    ours = medians["dask_noise.py (2 workers)"]
    print(f"\n{len(tile_files)} tiles, white 30 %, density 10 %, medians of {runs} rounds; "
          f"the LocalCluster started in {cluster_start:.2f} s (not counted)\n")
    print("| run | median s | images per second | dask / this |")
    print("|---|---|---|---|")
    for name, median in medians.items():
        print(f"| {name} | {median:.4f} | {len(tile_files) / median:.0f} | {ours / median:.2f}x |")


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    array_part(pathlib.Path(sys.argv[1]), runs)
    dataset_part(pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3]), runs)


if __name__ == "__main__":
    main()
