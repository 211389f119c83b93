# SPDX-License-Identifier: MIT
"""examples/dask_noise.py on a small folder with 2 workers: every output and mask is the
command's, and the manifest says what each file is."""
import csv
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

import imagenoise

from conftest import EXAMPLES, TEST_DATA, photo_like, run, write_p5

pytest.importorskip("dask.distributed")

SCRIPT = EXAMPLES / "dask_noise.py"


def run_example(*args):
    # The workers are processes of their own: they find the module where this process did.
    env = dict(os.environ)
    module_dir = str(pathlib.Path(imagenoise.__file__).parent)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, str(SCRIPT), *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    clean = tmp_path_factory.mktemp("clean")
    shutil.copy(EXAMPLES / "coins.pgm", clean / "coins.pgm")
    shutil.copy(TEST_DATA / "realfiles" / "hopper_1bit_plain.pbm", clean / "bitmap.pbm")
    write_p5(clean / "origin.pgm", photo_like(40, 30), origin=(3, -8))
    (clean / "notes.txt").write_text("not an image, and not read\n")
    return clean


# The example's options, the command's for the same outputs, and the white percentage.
SETTINGS = {
    "plain": ([], [], "50"),
    "exact": (["--exact", "--white", "30"], ["--exact"], "30"),
    "random p5": (["--impulse", "random", "--format", "p5"], ["--impulse", "random"], "50"),
}


@pytest.mark.parametrize("name", SETTINGS.keys())
def test_every_output_and_mask_is_the_commands(funcao_exe, folder, tmp_path, name):
    options, flags, white = SETTINGS[name]
    out = tmp_path / "noisy"
    done = run_example(folder, out, "--densities", "10", "50", "--seeds", "1", "3",
                       "--workers", 2, *options)
    assert done.returncode == 0, done.stderr
    assert "cluster up in" in done.stderr
    with open(out / "manifest.csv", newline="") as manifest:
        rows = list(csv.DictReader(manifest))
    assert len(rows) == 3 * 2 * 2
    (tmp_path / "command").mkdir()
    for row in rows:
        command_out = tmp_path / "command" / pathlib.Path(row["file"]).name
        command_mask = command_out.with_name("mask_" + command_out.name)
        run(funcao_exe, "--seed", row["seed"], *flags, "--mask", command_mask, row["input"],
            command_out, white, row["density"])
        produced = pathlib.Path(row["file"]).read_bytes()
        if "--format" in options:
            # Raw files of the command's pixels and origin; the command wrote them as P2.
            assert produced.startswith(b"P5\n")
            for ours, theirs in ((row["file"], command_out), (row["mask"], command_mask)):
                np.testing.assert_equal(imagenoise.read(ours, with_origin=True),
                                        imagenoise.read(theirs, with_origin=True))
        else:
            assert produced == command_out.read_bytes(), row["file"]
            assert pathlib.Path(row["mask"]).read_bytes() == command_mask.read_bytes()
        assert row["sha256"] == hashlib.sha256(produced).hexdigest()
        image = imagenoise.read(row["input"])
        expected = imagenoise.impulse_counts(image.shape, float(white), float(row["density"]),
                                             exact="--exact" in options,
                                             impulse=row["impulse"])
        assert (int(row["white_points"]), int(row["black_points"])) == expected


def test_help_and_refusals():
    done = run_example("--help")
    assert done.returncode == 0 and "--scheduler" in done.stdout
    refused = run_example(EXAMPLES, "out", "--densities", "101")
    assert refused.returncode != 0 and "at most 100" in refused.stderr
