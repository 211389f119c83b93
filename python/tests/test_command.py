# SPDX-License-Identifier: MIT
"""The module against the commands themselves: funcao_exe's output files, byte for byte."""
import numpy as np
import pytest

import imagenoise

from conftest import EXAMPLES, TEST_DATA, photo_like, run, write_p5

# Images of every reading path: the sample photograph (P5), a bitmap (P4) and plain files (P1,
# P2), an image of one row, and one wider than the P2 writer's lines.
INPUTS = {
    "coins": lambda tmp: EXAMPLES / "coins.pgm",
    "bitmap": lambda tmp: TEST_DATA / "realfiles" / "hopper_1bit.pbm",
    "plain bitmap": lambda tmp: TEST_DATA / "realfiles" / "hopper_1bit_plain.pbm",
    "plain greymap": lambda tmp: TEST_DATA / "realfiles" / "hopper_8bit_plain.pgm",
    "one row": lambda tmp: write_p5(tmp / "row.pgm", photo_like(1, 300)),
    "with origin": lambda tmp: write_p5(tmp / "origin.pgm", photo_like(33, 17), origin=(-4, 9)),
}

# white, density, seed: the usage examples, edge values, and texts the command reads as percentages.
SETTINGS = [(30, 10, 1), (50, 100, 7), (0, 50, 0), (100, 3.5, 12345), (-10, 20, 2**32 - 1),
            (12.5, 0.1, 99), (50, 0, 3)]


def command_output(funcao_exe, path, out, white, density, seed, *options):
    run(funcao_exe, "--seed", seed, *options, path, out, str(white), str(density))
    return out.read_bytes()


@pytest.mark.parametrize("name", INPUTS.keys())
@pytest.mark.parametrize("white, density, seed", SETTINGS)
def test_noise_is_the_commands_byte_for_byte(funcao_exe, tmp_path, name, white, density, seed):
    path = INPUTS[name](tmp_path)
    expected = command_output(funcao_exe, path, tmp_path / "command.pgm", white, density, seed)
    image, origin = imagenoise.read(path, with_origin=True)
    noisy = imagenoise.impulse_noise(image, white, density, seed=seed)
    imagenoise.write(tmp_path / "module.pgm", noisy, origin=origin)
    assert (tmp_path / "module.pgm").read_bytes() == expected


# Keyword arguments of impulse_noise and the command's options for them.
OPTIONS = {
    "exact": ({"exact": True}, ["--exact"]),
    "random": ({"impulse": "random"}, ["--impulse", "random"]),
    "random exact": ({"impulse": "random", "exact": True}, ["--impulse=random", "--exact"]),
    "fixed": ({"impulse": "fixed"}, ["--impulse", "fixed"]),
}


@pytest.mark.parametrize("name", ["coins", "with origin", "one row"])
@pytest.mark.parametrize("option", OPTIONS.keys())
@pytest.mark.parametrize("white, density, seed", [(50, 30, 7), (30, 100, 2), (-50, 90, 11)])
def test_options_and_masks_are_the_commands_byte_for_byte(funcao_exe, tmp_path, name, option,
                                                           white, density, seed):
    path = INPUTS[name](tmp_path)
    keywords, flags = OPTIONS[option]
    expected = command_output(funcao_exe, path, tmp_path / "command.pgm", white, density, seed,
                              "--mask", tmp_path / "command_mask.pgm", *flags)
    image, origin = imagenoise.read(path, with_origin=True)
    noisy, mask = imagenoise.impulse_noise(image, white, density, seed=seed, mask=True,
                                           **keywords)
    assert mask.dtype == np.bool_ and mask.shape == image.shape
    imagenoise.write(tmp_path / "module.pgm", noisy, origin=origin)
    imagenoise.write(tmp_path / "module_mask.pgm", mask.astype(np.uint8) * 255, origin=origin)
    assert (tmp_path / "module.pgm").read_bytes() == expected
    assert (tmp_path / "module_mask.pgm").read_bytes() == \
        (tmp_path / "command_mask.pgm").read_bytes()
    np.testing.assert_array_equal(
        imagenoise.impulse_noise(image, white, density, seed=seed, **keywords), noisy)


@pytest.mark.parametrize("density", [10, 50, 90, 100])
def test_exact_points_hit_exactly_the_counts_pixels(coins, density):
    clean = imagenoise.read(coins)
    noisy, mask = imagenoise.impulse_noise(clean, 30, density, seed=7, exact=True, mask=True)
    white, black = imagenoise.impulse_counts(clean.shape, 30, density, exact=True)
    assert mask.sum() == white + black
    assert (noisy[mask] == 255).sum() == white and (noisy[mask] == 0).sum() == black
    np.testing.assert_array_equal(noisy[~mask], clean[~mask])


def test_a_seed_of_1_is_the_default_and_the_run_without_a_seed(funcao_exe, tmp_path, coins):
    run(funcao_exe, coins, tmp_path / "plain.pgm", 30, 10)
    image = imagenoise.read(coins)
    imagenoise.write(tmp_path / "module.pgm", imagenoise.impulse_noise(image, 30, 10))
    assert (tmp_path / "module.pgm").read_bytes() == (tmp_path / "plain.pgm").read_bytes()
    np.testing.assert_array_equal(imagenoise.impulse_noise(image, 30, 10, seed=0),
                                  imagenoise.impulse_noise(image, 30, 10))


# The counts of the command's own examples: (shape, white, density) -> (white, black).
COUNTS = [
    ((100, 100), 30, 10, {}, (300, 699)), ([10, 10], 50, 100, {}, (50, 50)),
    ((10, 10), 30, 100, {}, (30, 69)), ((10, 10), 70, 100, {}, (69, 30)),
    ((10, 10), 100, 100, {}, (100, 0)), ((10, 10), 0, 100, {}, (0, 100)),
    ((10, 10), -10, -100, {}, (0, 0)), ((0, 100), 30, 10, {}, (0, 0)),
    ((100, 100), 30, 10, {"impulse": "random"}, (1000, 0)),
    ((10, 10), -1e30, 100, {"exact": True}, (0, 100)),
]


@pytest.mark.parametrize("shape, white, density, options, expected", COUNTS)
def test_counts_are_worked_out_as_the_command_does(shape, white, density, options, expected):
    assert imagenoise.impulse_counts(shape, white, density, **options) == expected


def test_counts_and_impulses_refuse_what_the_command_would_not_take():
    for shape, error in (((10, 10, 1), TypeError), ((-1, 10), ValueError),
                         ((2**31, 1), ValueError)):
        with pytest.raises(error):
            imagenoise.impulse_counts(shape, 30, 10)
    with pytest.raises(ValueError, match="'Fixed'"):
        imagenoise.impulse_noise(photo_like(4, 4), 30, 10, impulse="Fixed")
