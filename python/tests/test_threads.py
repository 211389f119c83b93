# SPDX-License-Identifier: MIT
"""Threads calling the module at once get what one thread gets, call by call."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import imagenoise

from conftest import EXAMPLES, photo_like, write_p5


def job(index, tmp_path):
    clean = photo_like(200 + index % 3, 180, seed=index)
    noisy = imagenoise.impulse_noise(clean, 20 + index, 10 + 5 * (index % 4), seed=index)
    path = tmp_path / f"noisy_{index}.pgm"
    imagenoise.write(path, noisy, origin=(index, -index))
    again, origin = imagenoise.read(path, with_origin=True)
    return noisy, again, origin, imagenoise.compare(noisy, clean)


def test_threads_at_once_give_the_results_of_one_thread(tmp_path):
    (tmp_path / "alone").mkdir()
    (tmp_path / "together").mkdir()
    alone = [job(i, tmp_path / "alone") for i in range(16)]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda i: job(i, tmp_path / "together"), range(16)))
    for (noisy, again, origin, measures), (noisy2, again2, origin2, measures2) in zip(alone,
                                                                                      together):
        np.testing.assert_array_equal(noisy, noisy2)
        np.testing.assert_array_equal(again, noisy2)
        np.testing.assert_array_equal(again2, noisy2)
        assert origin == origin2
        assert measures == measures2


def test_one_input_shared_by_threads_is_left_as_it_was():
    clean = imagenoise.read(EXAMPLES / "coins.pgm")
    before = clean.copy()
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda seed: imagenoise.impulse_noise(clean, 50, 50, seed=seed),
                                range(8)))
    np.testing.assert_array_equal(clean, before)
    for seed, noisy in enumerate(results):
        np.testing.assert_array_equal(noisy, imagenoise.impulse_noise(before, 50, 50, seed=seed))
