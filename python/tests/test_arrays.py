# SPDX-License-Identifier: MIT
"""What the module takes as an image, what it refuses and how, and that inputs stay as given."""
import math

import numpy as np
import pytest

import imagenoise

from conftest import photo_like

IMAGE = photo_like(40, 52)


def every_array_call(array, tmp_path):
    return [lambda: imagenoise.impulse_noise(array, 50, 20, seed=3),
            lambda: imagenoise.write(tmp_path / "out.pgm", array),
            lambda: imagenoise.compare(array, IMAGE),
            lambda: imagenoise.compare(IMAGE, IMAGE, noisy=array)]


@pytest.mark.parametrize("given, error, named", [
    (IMAGE.astype(np.float64), TypeError, "float64"), (IMAGE.astype(np.int8), TypeError, "int8"),
    (IMAGE.astype(np.uint16), TypeError, "uint16"), (IMAGE.astype(bool), TypeError, "bool"),
    (IMAGE.tolist(), TypeError, "list"), (IMAGE[0], ValueError, "1-D"),
    (IMAGE[None], ValueError, r"3-D \(shape \(1, 40, 52\)\)")])
def test_anything_but_a_2d_uint8_array_is_refused_naming_what_was_given(tmp_path, given, error,
                                                                          named):
    for call in every_array_call(given, tmp_path):
        with pytest.raises(error, match=named):
            call()
    assert not (tmp_path / "out.pgm").exists()


VIEWS = {
    "every other row and column": lambda a: a[::2, ::3],
    "transposed": lambda a: a.T,
    "reversed both ways": lambda a: a[::-1, ::-1],
    "one column": lambda a: a[:, 7:8],
    "part of a Fortran array": lambda a: np.asfortranarray(a)[3:30, 5:40],
}


@pytest.mark.parametrize("make_view", VIEWS.values(), ids=VIEWS.keys())
def test_strided_views_give_what_their_contiguous_copies_give(make_view):
    view = make_view(IMAGE)
    dense = np.ascontiguousarray(view)
    np.testing.assert_array_equal(imagenoise.impulse_noise(view, 30, 40, seed=9),
                                  imagenoise.impulse_noise(dense, 30, 40, seed=9))
    other = photo_like(*dense.shape, seed=4)
    np.testing.assert_equal(imagenoise.compare(view, other, noisy=view),
                            imagenoise.compare(dense, other, noisy=dense))


def test_the_input_is_never_changed_and_the_output_is_a_new_array():
    image = IMAGE.copy()
    image.flags.writeable = False
    noisy, mask = imagenoise.impulse_noise(image, 50, 100, seed=2, exact=True, mask=True)
    imagenoise.compare(image, noisy, noisy=noisy)
    np.testing.assert_array_equal(image, IMAGE)
    for made in (noisy, mask):
        assert made.flags.c_contiguous and made.flags.writeable and made.flags.owndata
        assert made.shape == IMAGE.shape
    assert noisy.dtype == np.uint8 and mask.dtype == np.bool_ and mask.all()


@pytest.mark.parametrize("shape", [(0, 0), (0, 9), (9, 0)])
def test_empty_arrays_get_no_noise_and_measures_of_nan(shape):
    empty = np.zeros(shape, np.uint8)
    noisy, mask = imagenoise.impulse_noise(empty, 50, 100, exact=True, mask=True)
    assert noisy.shape == mask.shape == shape
    assert imagenoise.impulse_counts(shape, 50, 100) == (0, 0)
    measures = imagenoise.compare(empty, empty, noisy=empty)
    assert measures["Erro"] == 0
    assert all(math.isnan(measures[name]) for name in ("Erro_medio", "MSE", "PSNR", "SSIM", "MAE"))


@pytest.mark.parametrize("white, density, error", [
    (100.5, 10, "at most 100"), (10, 100.5, "at most 100"), (1e9, 10, "at most 100"),
    (10, math.inf, "at most 100"), (math.nan, 10, "nan"), (10, np.float32("nan"), "nan")])
def test_a_percentage_above_100_or_not_a_number_is_refused(white, density, error):
    with pytest.raises(ValueError, match=error):
        imagenoise.impulse_noise(IMAGE, white, density)
    with pytest.raises(ValueError, match=error):
        imagenoise.impulse_counts(IMAGE.shape, white, density)


def test_absurd_percentages_below_zero_end_in_an_all_black_image_or_none():
    assert not imagenoise.impulse_noise(IMAGE, -1e30, 50).any()
    assert not imagenoise.impulse_noise(IMAGE, -math.inf, 50).any()
    assert not imagenoise.impulse_noise(IMAGE, -1e300, 50).any()  # beyond single precision
    np.testing.assert_array_equal(imagenoise.impulse_noise(IMAGE, 50, -1e30), IMAGE)
    np.testing.assert_array_equal(imagenoise.impulse_noise(IMAGE, 50, 1e-300), IMAGE)
    assert imagenoise.impulse_counts((3, 4), -1e30, 100) == (0, 2**63 - 1)  # saturated


def test_percentages_must_be_numbers_and_seeds_whole_numbers_in_range():
    for bad in ("10", None, True, [10]):
        with pytest.raises(TypeError):
            imagenoise.impulse_noise(IMAGE, bad, 10)
    for bad, error in ((-1, ValueError), (2**32, ValueError), (1.0, TypeError)):
        with pytest.raises(error):
            imagenoise.impulse_noise(IMAGE, 50, 10, seed=bad)
    np.testing.assert_array_equal(
        imagenoise.impulse_noise(IMAGE, np.float32(50), np.int64(10), seed=np.uint32(4)),
        imagenoise.impulse_noise(IMAGE, 50, 10, seed=4))
