# SPDX-License-Identifier: MIT
"""read and write: the pixels and origin of the files, and failures as exceptions."""
import numpy as np
import pytest

import imagenoise

from conftest import EXAMPLES, TEST_DATA, photo_like, run, write_p5


def plain_pgm_pixels(path):
    """The pixels of a P2 file the command wrote, parsed independently of the module."""
    words = [w for line in path.read_text().splitlines() if not line.startswith("#")
             for w in line.split()]
    assert words[0] == "P2"
    cols, rows = int(words[1]), int(words[2])
    return np.array(words[4:], dtype=np.int64).astype(np.uint8).reshape(rows, cols)


def test_read_gives_the_pixels_the_command_writes(funcao_exe, tmp_path):
    for path in [EXAMPLES / "coins.pgm", *sorted((TEST_DATA / "realfiles").glob("hopper_*bit*.p?m"))]:
        if "16bit" in path.name or path.suffix == ".ppm":
            continue
        run(funcao_exe, path, tmp_path / "copy.pgm", 0, 0)
        image = imagenoise.read(path)
        assert image.dtype == np.uint8 and image.flags.c_contiguous
        np.testing.assert_array_equal(image, plain_pgm_pixels(tmp_path / "copy.pgm"), path.name)
    # A bitmap keeps its bits as they are, 0 and 1.
    assert set(np.unique(imagenoise.read(TEST_DATA / "realfiles" / "hopper_1bit.pbm"))) == {0, 1}


def test_the_origin_is_read_and_written_as_row_then_column(tmp_path):
    pixels = photo_like(5, 7)
    write_p5(tmp_path / "in.pgm", pixels, origin=(-3, 11))
    image, origin = imagenoise.read(tmp_path / "in.pgm", with_origin=True)
    assert origin == (-3, 11)
    assert imagenoise.read(EXAMPLES / "coins.pgm", with_origin=True)[1] == (0, 0)
    imagenoise.write(tmp_path / "out.pgm", image, origin=origin)
    assert (tmp_path / "out.pgm").read_text().splitlines()[:3] == ["P2", "#origin 11 -3", "7 5 255"]
    again, origin_again = imagenoise.read(str(tmp_path / "out.pgm"), with_origin=True)
    np.testing.assert_array_equal(again, pixels)
    assert origin_again == (-3, 11)


def test_write_takes_strided_views_and_refuses_bad_origins(tmp_path):
    pixels = photo_like(20, 30)
    imagenoise.write(tmp_path / "view.pgm", pixels[::-2, ::3])
    np.testing.assert_array_equal(imagenoise.read(tmp_path / "view.pgm"), pixels[::-2, ::3])
    for origin, error in (((1,), TypeError), ((0, 2**31), ValueError), ((0.5, 0), TypeError),
                          ([1, 2], TypeError)):
        with pytest.raises(error):
            imagenoise.write(tmp_path / "bad.pgm", pixels, origin=origin)
    with pytest.raises(ValueError, match="format"):
        imagenoise.write(tmp_path / "bad.pgm", pixels, format="tiff")
    assert not (tmp_path / "bad.pgm").exists()


def test_a_file_that_cannot_be_opened_or_written_is_an_os_error_with_path_and_reason(tmp_path):
    missing = tmp_path / "missing.pgm"
    unwritable = tmp_path / "no" / "such" / "dir.pgm"
    for call, path, error in ((imagenoise.read, missing, FileNotFoundError),
                              (imagenoise.read, tmp_path, IsADirectoryError),
                              (lambda p: imagenoise.write(p, photo_like(2, 2)), unwritable,
                               FileNotFoundError)):
        with pytest.raises(error) as caught:
            call(path)
        assert caught.value.filename == str(path) and caught.value.strerror


# Refused files and the message of each, after the path; a short file claiming a huge size is
# refused before its memory is taken.
REFUSED = {
    "malformed/empty.pgm": (ValueError, "Not a PBM/PGM/PPM file."),
    "malformed/p7.pam": (ValueError, "Not a PBM/PGM/PPM file."),
    "malformed/p2x.pgm": (ValueError, "Bad PBM/PGM/PPM header."),
    "malformed/truncated_header.pgm": (ValueError, "Bad PBM/PGM/PPM header."),
    "malformed/overflow_width.pgm": (ValueError, "Bad PBM/PGM/PPM header."),
    "malformed/p2_maxval_1023.pgm": (ValueError, "More than 8 bits per sample (maximum 1023)."),
    "malformed/p5_maxval_65535.pgm": (ValueError,
                                      "More than 8 bits per sample (maximum 65535)."),
    "realfiles/hopper_8bit_plain.ppm": (ValueError, "Colour image."),
    "malformed/giant_rows.pgm": (MemoryError, "The image needs more memory than allowed."),
    "malformed/giant_size.pgm": (MemoryError, "The image needs more memory than allowed."),
}


@pytest.mark.parametrize("name", REFUSED.keys())
def test_a_file_that_is_not_an_image_is_a_value_error_with_the_readers_text(name):
    path = TEST_DATA / name
    error, text = REFUSED[name]
    with pytest.raises(error) as caught:
        imagenoise.read(path)
    assert str(caught.value) == f"'{path}': {text}"


def test_nothing_is_printed(capfd, tmp_path):
    imagenoise.read(EXAMPLES / "coins.pgm")
    with pytest.raises(ValueError):
        imagenoise.read(TEST_DATA / "malformed" / "p2x.pgm")
    imagenoise.write(tmp_path / "out.pgm", photo_like(3, 3))
    assert capfd.readouterr() == ("", "")


def test_every_format_reads_back_with_its_pixels_and_origin(tmp_path):
    pixels = photo_like(23, 41)
    for name, format in (("a.pgm", "p2"), ("b.pgm", "p5"), ("c.out", "PNG"), ("d.png", None)):
        if "png" in name + str(format).lower() and not png_supported(tmp_path):
            continue
        imagenoise.write(tmp_path / name, pixels, origin=(5, -6), format=format)
        image, origin = imagenoise.read(tmp_path / name, with_origin=True)
        np.testing.assert_array_equal(image, pixels, name)
        assert origin == (5, -6), name


def png_supported(tmp_path):
    try:
        imagenoise.write(tmp_path / "probe.png", photo_like(1, 1), format="png")
    except ValueError as refused:
        assert "PNG" in str(refused)
        return False
    return True


def test_the_format_follows_the_commands_rule_by_name(tmp_path):
    pixels = photo_like(3, 4)
    imagenoise.write(tmp_path / "raw.pgm", pixels, format="p5", origin=(1, 2))
    assert (tmp_path / "raw.pgm").read_bytes() == b"P5\n#origin 2 1\n4 3 255\n" + pixels.tobytes()
    imagenoise.write(tmp_path / "plain.pgm", pixels)
    assert (tmp_path / "plain.pgm").read_bytes().startswith(b"P2\n#origin 0 0\n4 3 255\n")
    imagenoise.write(tmp_path / "upper.PNG", pixels)
    signature = (tmp_path / "upper.PNG").read_bytes()[:8]
    if png_supported(tmp_path):
        assert signature == b"\x89PNG\r\n\x1a\n"
        with pytest.raises(ValueError, match="without pixels"):
            imagenoise.write(tmp_path / "empty.png", np.zeros((0, 3), np.uint8))
    else:
        assert signature.startswith(b"P2\n")
