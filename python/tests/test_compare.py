# SPDX-License-Identifier: MIT
"""compare: pnm_compare's values, bit for bit, and the exact measures against numpy and
scikit-image."""
import math

import numpy as np
import pytest

import imagenoise

from conftest import EXAMPLES, photo_like, run, write_p5

SINGLE_PRECISION = {"Erro", "Erro_medio"}


def pnm_compare_values(pnm_compare, a_path, b_path, *options):
    values = {}
    for line in run(pnm_compare, *options, a_path, b_path).stdout.splitlines():
        name, value = line.split()[:2]
        values[name] = float(value)
    return values


def same_value(ours, theirs, name):
    if math.isnan(theirs):
        return math.isnan(ours)
    if name in SINGLE_PRECISION:
        # Printed with 9 digits, which read back to the very single-precision value.
        return np.float32(ours) == np.float32(theirs) and float(np.float32(ours)) == ours
    return ours == theirs  # 17 digits read back to the very double


PAIRS = {
    "noisy photograph": lambda: (imagenoise.impulse_noise(imagenoise.read(EXAMPLES / "coins.pgm"),
                                                         30, 10, seed=4),
                                 imagenoise.read(EXAMPLES / "coins.pgm")),
    "equal": lambda: (photo_like(20, 20), photo_like(20, 20)),
    # Erro 9 both ways; Sinal_ruido 169 / 9, and 100 / 9 the other way.
    "one pixel, 10 against 13": lambda: (np.full((1, 1), 10, np.uint8),
                                         np.full((1, 1), 13, np.uint8)),
    "one pixel, 13 against 10": lambda: (np.full((1, 1), 13, np.uint8),
                                         np.full((1, 1), 10, np.uint8)),
    "all zero": lambda: (np.zeros((12, 12), np.uint8), np.zeros((12, 12), np.uint8)),
    "smaller than the window": lambda: (photo_like(5, 40), photo_like(5, 40, seed=1)),
    "large, sums past 2^24": lambda: (photo_like(300, 310),
                                      imagenoise.impulse_noise(photo_like(300, 310), 50, 60)),
}


@pytest.mark.parametrize("name", PAIRS.keys())
def test_values_are_pnm_compares_bit_for_bit(pnm_compare, tmp_path, name):
    a, b = PAIRS[name]()
    expected = pnm_compare_values(pnm_compare, write_p5(tmp_path / "a.pgm", a),
                                  write_p5(tmp_path / "b.pgm", b))
    measures = imagenoise.compare(a, b)
    assert set(measures) == set(expected)
    for key, value in expected.items():
        assert same_value(measures[key], value, key), (key, measures[key], value)


def test_ief_is_pnm_compares_with_noisy(pnm_compare, tmp_path):
    clean = photo_like(40, 40)
    noisy = imagenoise.impulse_noise(clean, 50, 30, seed=3)
    half = np.where(np.arange(40)[:, None] < 20, clean, noisy).astype(np.uint8)
    for first in (half, clean, noisy):
        expected = pnm_compare_values(pnm_compare, write_p5(tmp_path / "a.pgm", first),
                                      write_p5(tmp_path / "b.pgm", clean), "--noisy",
                                      write_p5(tmp_path / "n.pgm", noisy))
        measures = imagenoise.compare(first, clean, noisy=noisy)
        assert set(measures) == set(expected)
        for key, value in expected.items():
            assert same_value(measures[key], value, key), (key, measures[key], value)
    assert imagenoise.compare(clean, clean, noisy=noisy)["IEF"] == math.inf
    assert math.isnan(imagenoise.compare(clean, clean, noisy=clean)["IEF"])
    with pytest.raises(ValueError, match="noisy"):
        imagenoise.compare(clean, clean, noisy=noisy[:-1])


def test_mse_mae_psnr_and_ief_are_numpys_exact_values():
    clean = photo_like(64, 80)
    noisy = imagenoise.impulse_noise(clean, 40, 30, seed=8)
    difference = clean.astype(np.int64) - noisy.astype(np.int64)
    mse = float((difference**2).sum()) / difference.size
    measures = imagenoise.compare(noisy, clean)
    assert measures["MSE"] == mse
    assert measures["MAE"] == float(np.abs(difference).sum()) / difference.size
    assert measures["PSNR"] == pytest.approx(10 * math.log10(255**2 / mse), rel=1e-15)
    filtered = np.where(noisy == 255, clean, noisy).astype(np.uint8)
    left = ((filtered.astype(np.int64) - clean) ** 2).sum()
    ief = imagenoise.compare(filtered, clean, noisy=noisy)["IEF"]
    assert ief == float((difference**2).sum()) / float(left)


def test_ssim_is_scikit_images_within_1e_7():
    metrics = pytest.importorskip("skimage.metrics")
    clean = imagenoise.read(EXAMPLES / "coins.pgm")
    for density in (5, 50):
        noisy = imagenoise.impulse_noise(clean, 50, density, seed=density)
        expected = metrics.structural_similarity(noisy, clean, gaussian_weights=True, sigma=1.5,
                                                 use_sample_covariance=False, data_range=255)
        assert imagenoise.compare(noisy, clean)["SSIM"] == pytest.approx(expected, abs=1e-7)
