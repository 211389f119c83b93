# SPDX-License-Identifier: MIT
"""Shared fixtures: the built commands (CTest names them; a build/ beside the sources otherwise),
the sample images, and small helpers to run the commands and make input files."""
import os
import pathlib
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = pathlib.Path(os.environ.get("IMAGENOISE_EXAMPLES", ROOT / "examples"))
TEST_DATA = ROOT / "tests" / "data"


def program(variable, name):
    path = pathlib.Path(os.environ.get(variable, ROOT / "build" / name))
    if not path.exists():
        pytest.skip(f"{name} is not built ({path}); build it or set {variable}")
    return path


@pytest.fixture(scope="session")
def funcao_exe():
    return program("FUNCAO_EXE", "funcao_exe")


@pytest.fixture(scope="session")
def pnm_compare():
    return program("PNM_COMPARE", "pnm_compare")


def run(*args, **kwargs):
    """Runs a program, its output captured; raises when it fails."""
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True,
                          **kwargs)


def write_p5(path, pixels, origin=None):
    """A raw greymap file written by hand, independent of the module's writer."""
    rows, cols = pixels.shape
    header = b"P5\n"
    if origin is not None:
        header += f"#origin {origin[1]} {origin[0]}\n".encode()
    header += f"{cols} {rows}\n255\n".encode()
    pathlib.Path(path).write_bytes(header + np.ascontiguousarray(pixels).tobytes())
    return path


def photo_like(rows, cols, seed=0):
    """Smooth shapes with grain: an image with edges and flat parts, like a photograph."""
    r, c = np.mgrid[0:rows, 0:cols]
    base = 128 + 60 * np.sin(r / 7.0) * np.cos(c / 11.0) + 40 * ((r // 16 + c // 16) % 2)
    grain = np.random.default_rng(seed).normal(0, 8, (rows, cols))
    return np.clip(base + grain, 0, 255).astype(np.uint8)


@pytest.fixture(scope="session")
def coins():
    return EXAMPLES / "coins.pgm"
