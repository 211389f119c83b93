# SPDX-License-Identifier: MIT
"""The README's Python session runs as printed."""
import contextlib
import io
import os
import re
import shutil

import numpy as np

import imagenoise

from conftest import EXAMPLES, ROOT


def test_the_readmes_python_session_runs(tmp_path):
    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("## Python: numpy arrays and Dask"):]
    session = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "examples").mkdir()
    shutil.copy(EXAMPLES / "coins.pgm", tmp_path / "examples" / "coins.pgm")
    here = os.getcwd()
    printed = io.StringIO()
    try:
        os.chdir(tmp_path)
        with contextlib.redirect_stdout(printed):
            exec(compile(session, "README.md", "exec"), {})
    finally:
        os.chdir(here)
    assert "'SSIM'" in printed.getvalue() and "'MAE'" in printed.getvalue()
    clean = imagenoise.read(EXAMPLES / "coins.pgm")
    expected = imagenoise.impulse_noise(clean, 50, 30, seed=7, exact=True)
    np.testing.assert_array_equal(imagenoise.read(tmp_path / "coins_noisy.png"), expected)
