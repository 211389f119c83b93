# SPDX-License-Identifier: MIT
"""What the module takes as an image, what it refuses and how, and that inputs stay as given."""
import math

import numpy as np
import pytest

import imagenoise

from conftest import photo_like

IMAGE = photo_like(40, 52)


def every_array_call(array):
    """Each call that takes an image, on array."""
    return [
        lambda: imagenoise.impulse_noise(array, 50, 20, seed=3),
        lambda: imagenoise.compare(array, IMAGE),
        lambda: imagenoise.compare(IMAGE, array),
    ]


@pytest.mark.parametrize("dtype", [np.float64, np.float32, np.int16, np.int8, np.uint16, bool])
def test_another_dtype_is_a_type_error_naming_it(dtype):
    array = IMAGE.astype(dtype)
    for call in every_array_call(array):
        with pytest.raises(TypeError, match=np.dtype(dtype).name):
            call()


@pytest.mark.parametrize("shape", [(52,), (2, 40, 52), (1, 1, 1, 1)])
def test_another_number_of_dimensions_is_a_value_error_naming_it(shape):
    array = np.zeros(shape, np.uint8)
    for call in every_array_call(array):
        with pytest.raises(ValueError, match=rf"{len(shape)}-D"):
            call()


def test_something_other_than_an_array_is_a_type_error():
    with pytest.raises(TypeError, match="list"):
        imagenoise.impulse_noise(IMAGE.tolist(), 50, 20)
    with pytest.raises(TypeError, match="NoneType"):
        imagenoise.compare(IMAGE, None)


def test_compare_refuses_arrays_of_different_shapes():
    with pytest.raises(ValueError, match=r"\(40, 52\) and \(40, 51\)"):
        imagenoise.compare(IMAGE, IMAGE[:, :51])


VIEWS = {
    "every other row and column": lambda a: a[::2, ::3],
    "transposed": lambda a: a.T,
    "reversed both ways": lambda a: a[::-1, ::-1],
    "one column": lambda a: a[:, 7:8],
    "a column of a Fortran array": lambda a: np.asfortranarray(a)[3:30, 5:40],
}


@pytest.mark.parametrize("make_view", VIEWS.values(), ids=VIEWS.keys())
def test_strided_views_give_what_their_contiguous_copies_give(make_view):
    view = make_view(IMAGE)
    assert not view.flags.c_contiguous or view.shape[1] == 1
    dense = np.ascontiguousarray(view)
    np.testing.assert_array_equal(imagenoise.impulse_noise(view, 30, 40, seed=9),
                                  imagenoise.impulse_noise(dense, 30, 40, seed=9))
    other = photo_like(*dense.shape, seed=4)
    np.testing.assert_equal(imagenoise.compare(view, other), imagenoise.compare(dense, other))
    np.testing.assert_equal(imagenoise.compare(other, view), imagenoise.compare(other, dense))


def test_the_input_is_never_changed_and_the_output_is_a_new_array():
    image = IMAGE.copy()
    image.flags.writeable = False
    noisy = imagenoise.impulse_noise(image, 50, 100, seed=2)
    np.testing.assert_array_equal(image, IMAGE)
    assert noisy.flags.c_contiguous and noisy.flags.writeable and noisy.flags.owndata
    assert noisy.dtype == np.uint8 and noisy.shape == IMAGE.shape
    assert not np.shares_memory(noisy, image)
    imagenoise.compare(image, noisy)
    np.testing.assert_array_equal(image, IMAGE)


@pytest.mark.parametrize("shape", [(0, 0), (0, 9), (9, 0)])
def test_empty_arrays_get_no_noise_and_measures_of_nan(shape):
    empty = np.zeros(shape, np.uint8)
    noisy = imagenoise.impulse_noise(empty, 50, 100)
    assert noisy.shape == shape and noisy.dtype == np.uint8
    assert imagenoise.impulse_counts(shape, 50, 100) == (0, 0)
    measures = imagenoise.compare(empty, empty)
    assert measures["Erro"] == 0
    assert all(math.isnan(measures[name]) for name in ("Erro_medio", "MSE", "PSNR", "SSIM"))


@pytest.mark.parametrize("white, density", [(100.5, 10), (10, 100.5), (1e9, 10), (10, math.inf)])
def test_a_percentage_above_100_is_refused(white, density):
    with pytest.raises(ValueError, match="at most 100"):
        imagenoise.impulse_noise(IMAGE, white, density)
    with pytest.raises(ValueError, match="at most 100"):
        imagenoise.impulse_counts(IMAGE.shape, white, density)


def test_not_a_number_is_refused_rather_than_giving_no_noise():
    for white, density in ((math.nan, 10), (10, math.nan), (np.float32("nan"), 10)):
        with pytest.raises(ValueError, match="nan"):
            imagenoise.impulse_noise(IMAGE, white, density)


def test_absurd_percentages_below_zero_end_in_an_all_black_image_or_none():
    # A white share of -1e30 leaves a black count far beyond the pixels: every pixel goes black.
    assert imagenoise.impulse_counts(IMAGE.shape, -1e30, 50)[0] == 0
    assert not imagenoise.impulse_noise(IMAGE, -1e30, 50).any()
    assert not imagenoise.impulse_noise(IMAGE, -math.inf, 50).any()
    np.testing.assert_array_equal(imagenoise.impulse_noise(IMAGE, 50, -1e30), IMAGE)
    np.testing.assert_array_equal(imagenoise.impulse_noise(IMAGE, 50, -math.inf), IMAGE)


def test_percentages_must_be_numbers_and_seeds_whole_numbers_in_range():
    for bad in ("10", None, True, [10]):
        with pytest.raises(TypeError):
            imagenoise.impulse_noise(IMAGE, bad, 10)
    for bad in (-1, 2**32):
        with pytest.raises(ValueError, match="4294967295"):
            imagenoise.impulse_noise(IMAGE, 50, 10, seed=bad)
    with pytest.raises(TypeError):
        imagenoise.impulse_noise(IMAGE, 50, 10, seed=1.0)
    # numpy's scalars are numbers too.
    np.testing.assert_array_equal(imagenoise.impulse_noise(IMAGE, np.float32(50), np.int64(10)),
                                  imagenoise.impulse_noise(IMAGE, 50, 10))
