# SPDX-License-Identifier: MIT
"""Threads calling the module at once get what one thread gets, call by call."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import imagenoise

from conftest import photo_like

SHARED = photo_like(300, 280)


def job(index, folder):
    own = photo_like(200 + index % 3, 180, seed=index)
    noisy, mask = imagenoise.impulse_noise(own, 20 + index, 10 + 5 * (index % 4), seed=index,
                                           exact=index % 2 == 0, mask=True)
    path = folder / f"noisy_{index}.pgm"
    imagenoise.write(path, noisy, origin=(index, -index))
    return (noisy, mask, imagenoise.read(path, with_origin=True),
            imagenoise.compare(noisy, own, noisy=noisy),
            imagenoise.impulse_noise(SHARED, 50, 50, seed=index))


def test_threads_at_once_give_the_results_of_one_thread(tmp_path):
    before = SHARED.copy()
    (tmp_path / "alone").mkdir()
    (tmp_path / "together").mkdir()
    alone = [job(i, tmp_path / "alone") for i in range(16)]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda i: job(i, tmp_path / "together"), range(16)))
    np.testing.assert_equal(alone, together)
    np.testing.assert_array_equal(SHARED, before)
