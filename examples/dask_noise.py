#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Noises every image of a folder at several densities and seeds on a Dask cluster.

Each output is the file funcao_exe writes for the same input, percentages, --seed and options;
beside it goes its mask (255 where a noise point landed, 0 elsewhere), and a CSV manifest lists
every output with its settings, its point counts and the sha256 of its bytes.

Without --scheduler the work runs on a LocalCluster of this machine, which is stopped at the end.
With --scheduler ADDRESS it runs on that cluster's workers, which must have imagenoise installed
and see the input and output folders at the same paths (a shared file system).
"""
import argparse
import csv
import hashlib
import pathlib
import sys
import time

IMAGE_SUFFIXES = {".pgm", ".pbm", ".pnm", ".png"}
FORMAT_SUFFIXES = {"p2": ".pgm", "p5": ".pgm", "png": ".png"}
MANIFEST_FIELDS = ["file", "input", "mask", "density", "white", "seed", "exact", "impulse",
                   "white_points", "black_points", "sha256"]


def arguments(argv):
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="Example: dask_noise.py clean/ noisy/ --densities 10 30 50 --seeds 1 2 3 --exact")
    parser.add_argument("input_dir", type=pathlib.Path,
                        help="folder of images (.pgm, .pbm, .pnm, .png); every one is noised")
    parser.add_argument("output_dir", type=pathlib.Path, help="folder for the outputs (made)")
    parser.add_argument("--densities", nargs="+", default=["10"], metavar="D",
                        help="percentages of the pixels that receive noise (default 10)")
    parser.add_argument("--seeds", nargs="+", type=int, default=[1], metavar="S",
                        help="funcao_exe's --seed values, one realisation each (default 1)")
    parser.add_argument("--white", default="50",
                        help="percentage of the noise points that are white (default 50)")
    parser.add_argument("--exact", action="store_true", help="distinct positions, as --exact")
    parser.add_argument("--impulse", choices=["fixed", "random"], default="fixed",
                        help="0 and 255, or uniformly random values (default fixed)")
    parser.add_argument("--format", choices=sorted(FORMAT_SUFFIXES),
                        help="output format; by default each output keeps its input's suffix "
                             "and the format follows it, as funcao_exe's rule says")
    parser.add_argument("--manifest", type=pathlib.Path,
                        help="CSV manifest (default OUTPUT_DIR/manifest.csv)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running cluster's scheduler, tcp://host:8786, in place of a "
                             "LocalCluster")
    parser.add_argument("--workers", type=int, default=2,
                        help="LocalCluster worker processes (default 2)")
    parser.add_argument("--threads-per-worker", type=int, default=1,
                        help="LocalCluster threads per worker (default 1; the module releases "
                             "the GIL, so threads work in parallel too)")
    parser.add_argument("--batch", type=int,
                        help="outputs per task (default: about four tasks per worker thread)")
    return parser.parse_args(argv)


def percentage(text):
    """A percentage as the command takes it; refused here, before any work, if it is none."""
    try:
        return float(text)
    except ValueError:
        raise SystemExit(f"dask_noise.py: not a percentage: '{text}'")


def make_jobs(options):
    inputs = sorted(p for p in options.input_dir.iterdir()
                    if p.is_file() and p.suffix.lower() in IMAGE_SUFFIXES)
    jobs = []
    for path in inputs:
        suffix = FORMAT_SUFFIXES[options.format] if options.format else path.suffix
        for density in options.densities:
            for seed in options.seeds:
                stem = f"{path.stem}_d{density}_s{seed}"
                jobs.append({
                    "input": str(path),
                    "output": str(options.output_dir / f"{stem}{suffix}"),
                    "mask": str(options.output_dir / f"{stem}_mask{suffix}"),
                    "density": density,
                    "seed": seed,
                })
    return jobs


def noise_batch(jobs, settings):
    """Runs on a worker: each job's output, mask and manifest row. An input read once serves
    every job of the batch that names it."""
    import imagenoise

    rows = []
    last = (None, None)
    for job in jobs:
        if last[0] != job["input"]:
            last = (job["input"], imagenoise.read(job["input"], with_origin=True))
        image, origin = last[1]
        noisy, mask = imagenoise.impulse_noise(
            image, float(settings["white"]), float(job["density"]), seed=job["seed"],
            exact=settings["exact"], impulse=settings["impulse"], mask=True)
        imagenoise.write(job["output"], noisy, origin=origin, format=settings["format"])
        marks = mask.view("uint8") * 255
        imagenoise.write(job["mask"], marks, origin=origin, format=settings["format"])
        white, black = imagenoise.impulse_counts(
            image.shape, float(settings["white"]), float(job["density"]),
            exact=settings["exact"], impulse=settings["impulse"])
        with open(job["output"], "rb") as written:
            digest = hashlib.sha256(written.read()).hexdigest()
        rows.append({"file": job["output"], "input": job["input"], "mask": job["mask"],
                     "density": job["density"], "white": settings["white"], "seed": job["seed"],
                     "exact": settings["exact"], "impulse": settings["impulse"],
                     "white_points": white, "black_points": black, "sha256": digest})
    return rows


def batches(jobs, size):
    return [jobs[i:i + size] for i in range(0, len(jobs), size)]


def run(client, jobs, settings, batch):
    futures = client.map(noise_batch, batches(jobs, batch), settings=settings, pure=False)
    rows = []
    for done in client.gather(futures):
        rows.extend(done)
    return rows


def main(argv=None):
    options = arguments(argv)
    for text in [options.white, *options.densities]:
        if not percentage(text) <= 100:
            raise SystemExit(f"dask_noise.py: a percentage must be a number at most 100: '{text}'")
    if not options.input_dir.is_dir():
        raise SystemExit(f"dask_noise.py: no folder '{options.input_dir}'")
    options.output_dir.mkdir(parents=True, exist_ok=True)
    jobs = make_jobs(options)
    settings = {"white": options.white, "exact": options.exact, "impulse": options.impulse,
                "format": options.format}

    from dask.distributed import Client, LocalCluster

    started = time.perf_counter()
    if options.scheduler:
        client = Client(options.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=options.workers,
                               threads_per_worker=options.threads_per_worker,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        threads = sum(client.nthreads().values()) or 1
        up = time.perf_counter()
        batch = options.batch or max(1, -(-len(jobs) // (4 * threads)))
        rows = run(client, jobs, settings, batch)
        finished = time.perf_counter()
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    manifest = options.manifest or options.output_dir / "manifest.csv"
    with open(manifest, "w", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=MANIFEST_FIELDS)
        writer.writeheader()
        writer.writerows(rows)
    print(f"cluster up in {up - started:.3f} s ({threads} threads); {len(rows)} outputs in "
          f"{finished - up:.3f} s; manifest {manifest}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
