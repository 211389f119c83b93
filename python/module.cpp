// SPDX-License-Identifier: MIT
// imagenoise: the library's reader, writer, noise step and measures on numpy arrays.
//
// Every call checks its arguments with the interpreter's lock held, then releases the lock for
// the work itself, which touches only the arrays it was given or made. Failures become Python
// exceptions; nothing here prints or ends the process.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "imagelib/image_reader.h"
#include "imagelib/lib.h"
#include "imagelib/platform/file_open.h"
#include "imagelib/platform/physical_memory.h"
#include "imagelib/platform/replace_file.h"
#include "noise/compare.h"
#include "noise/impulse.h"
#include "noise/memory_room.h"
#include "noise/noise.h"

namespace py = pybind11;

namespace {

constexpr int64_t kMaxSide = INT32_MAX;

// An image record over memory someone else owns: a numpy array's rows, or a copy of them.
struct ImageView {
  ImageDims dims{};
  std::vector<unsigned char*> rows;
  Image image{};
  std::vector<unsigned char> copy;  // the pixels, when the array's own could not be pointed at

  ImageView() = default;
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;
};

// Points view at rows x cols pixels starting at data, one row every row_stride bytes.
void view_rows(ImageView* view, unsigned char* data, int32_t rows, int32_t cols,
               ptrdiff_t row_stride) {
  view->dims = ImageDims{rows, cols, 0, 0};
  view->rows.resize(static_cast<size_t>(rows));
  for (int32_t r = 0; r < rows; ++r) {
    view->rows[static_cast<size_t>(r)] = data + r * row_stride;
  }
  view->image = Image{&view->dims, view->rows.data()};
}

std::string text_of(const py::handle& object) {
  return py::str(py::reinterpret_borrow<py::object>(object));
}

std::string type_name(const py::handle& object) {
  return py::str(py::type::of(object).attr("__name__"));
}

std::string shape_text(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < array.ndim(); ++i) {
    text += (i > 0 ? ", " : "") + std::to_string(array.shape(i));
  }
  return text + (array.ndim() == 1 ? ",)" : ")");
}

// The array as an image: 2-D, uint8, each side within the library's 32-bit sizes. Anything else
// is refused, naming what was given; nothing is converted.
py::array checked_image(const py::handle& object, const char* name) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(std::string(name) + " must be a 2-D numpy array of uint8, not " +
                         type_name(object));
  }
  auto array = py::reinterpret_borrow<py::array>(object);
  const py::dtype dtype = array.dtype();
  if (dtype.kind() != 'u' || dtype.itemsize() != 1) {
    throw py::type_error(std::string(name) + " must be an array of uint8, not " + text_of(dtype));
  }
  if (array.ndim() != 2) {
    throw py::value_error(std::string(name) + " must be 2-D, not " + std::to_string(array.ndim()) +
                          "-D (shape " + shape_text(array) + ")");
  }
  if (array.shape(0) > kMaxSide || array.shape(1) > kMaxSide) {
    throw py::value_error(std::string(name) + " has shape " + shape_text(array) +
                          "; each side must be at most 2147483647");
  }
  return array;
}

int32_t side(const py::array& array, int axis) {
  return static_cast<int32_t>(array.shape(axis));
}

// Copies a 2-D uint8 array of any strides into rows of cols bytes, row_stride apart.
void copy_pixels(const py::array& from, unsigned char* to, ptrdiff_t row_stride) {
  const auto* base = static_cast<const unsigned char*>(from.data());
  const py::ssize_t rows = from.shape(0);
  const py::ssize_t cols = from.shape(1);
  const py::ssize_t s0 = from.strides(0);
  const py::ssize_t s1 = from.strides(1);
  for (py::ssize_t r = 0; r < rows; ++r) {
    const unsigned char* in = base + r * s0;
    unsigned char* out = to + r * row_stride;
    if (s1 == 1) {
      std::memcpy(out, in, static_cast<size_t>(cols));
    } else {
      for (py::ssize_t c = 0; c < cols; ++c) {
        out[c] = in[c * s1];
      }
    }
  }
}

// A view of an input array that is only read: its own rows where each row is contiguous (any
// row stride, negative too), otherwise one copy. Call without the lock; array must stay alive.
void view_input(ImageView* view, const py::array& array) {
  const int32_t rows = side(array, 0);
  const int32_t cols = side(array, 1);
  if (array.strides(1) == 1 || cols <= 1) {
    // The library reads through the view only; the const goes for the record's sake.
    auto* data = static_cast<unsigned char*>(const_cast<void*>(array.data()));
    view_rows(view, data, rows, cols, array.strides(0));
    return;
  }
  view->copy.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols));
  copy_pixels(array, view->copy.data(), cols);
  view_rows(view, view->copy.data(), rows, cols, cols);
}

// A new C-contiguous uint8 array of rows x cols, and a view of it for the library to write.
py::array_t<uint8_t> new_image(ImageView* view, int32_t rows, int32_t cols) {
  py::array_t<uint8_t> array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
  view_rows(view, array.mutable_data(), rows, cols, cols);
  return array;
}

// ---- Paths and errors ----

// A path as the library takes it: str, bytes or os.PathLike, in the file system's encoding
// (UTF-8 on Windows, as the library expects there).
std::string path_bytes(const py::handle& path) {
  const py::object encoded = py::module_::import("os").attr("fsencode")(path);
  return py::bytes(encoded);
}

std::string path_text(const py::handle& path) {
  return py::str(py::module_::import("os").attr("fsdecode")(path));
}

// OSError(error, its text, path), which Python turns into FileNotFoundError and the like.
[[noreturn]] void raise_os_error(int error, const py::handle& path, const char* reason) {
  const py::str name(path_text(path));
  const py::object exception = py::reinterpret_steal<py::object>(
      PyObject_CallFunction(PyExc_OSError, "isO", error != 0 ? error : EIO,
                            error != 0 ? std::strerror(error) : reason, name.ptr()));
  if (exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  }
  throw py::error_already_set();
}

// A refusal from the reader or writer, as the exception a Python user expects for it.
[[noreturn]] void raise_status(ImageStatus status, int error, const py::handle& path,
                               const PnmHeader* header = nullptr) {
  const std::string where = "'" + path_text(path) + "': ";
  if (status == ImageStatus::too_deep && header != nullptr) {
    throw py::value_error(where + "More than 8 bits per sample (maximum " +
                          std::to_string(header->maxval) + ").");
  }
  switch (status) {
    case ImageStatus::read_error:
    case ImageStatus::write_error:
      raise_os_error(error, path, image_strerror(status));
    case ImageStatus::no_storage:
    case ImageStatus::too_large:
      PyErr_SetString(PyExc_MemoryError, (where + image_strerror(status)).c_str());
      throw py::error_already_set();
    default:
      throw py::value_error(where + image_strerror(status));
  }
}

// ---- read and write ----

// The reader's rule for the largest image: it must fit the memory limits the process runs
// under, and half the machine's memory, so that a short file claiming a huge size is refused
// instead of filling the memory with its last value.
uint64_t read_limit(int32_t rows, int32_t cols) {
  const uint64_t need = image_bytes(rows, cols);
  return std::min(noise_detail::image_limit(need, 0), imagelib_detail::physical_memory() / 2);
}

py::object read_image(const py::object& path, bool with_origin) {
  const std::string name = path_bytes(path);
  ByteSource source;
  imagelib_detail::ImageReader reader;
  PnmHeader header{};
  ImageStatus status = ImageStatus::ok;
  int error = 0;
  {
    py::gil_scoped_release release;
    errno = 0;
    status = byte_source_open(name.c_str(), &source);
    error = errno;
    if (status == ImageStatus::ok) {
      status = imagelib_detail::image_read_header(&source, &reader, &header);
      error = errno;
    }
    if (status == ImageStatus::ok && (header.rows < 0 || header.cols < 0)) {
      status = ImageStatus::bad_size;
    }
    if (status == ImageStatus::ok &&
        image_bytes(header.rows, header.cols) > read_limit(header.rows, header.cols)) {
      status = ImageStatus::too_large;
    }
  }
  if (status != ImageStatus::ok) {
    raise_status(status, error, path, &header);
  }
  // The pixels go straight into the array the caller gets.
  ImageView view;
  py::array_t<uint8_t> image = new_image(&view, header.rows, header.cols);
  {
    py::gil_scoped_release release;
    errno = 0;
    status = imagelib_detail::image_read_pixels(&source, &reader, &header, &view.image);
    error = errno;
  }
  if (status != ImageStatus::ok) {
    raise_status(status, error, path);
  }
  if (!with_origin) {
    return std::move(image);
  }
  return py::make_tuple(image, py::make_tuple(header.origin_row, header.origin_col));
}

// A whole number: a Python int or anything that stands for one (numpy's integers), not a bool.
py::int_ whole_number(const py::handle& value, const std::string& name) {
  if (py::isinstance<py::bool_>(value) || PyIndex_Check(value.ptr()) == 0) {
    throw py::type_error(name + " must be an int, not " + type_name(value));
  }
  return py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
}

int32_t origin_part(const py::handle& value, const char* which) {
  const py::int_ number = whole_number(value, std::string("origin ") + which);
  const py::int_ low(INT32_MIN);
  const py::int_ high(INT32_MAX);
  if (number < low || number > high) {
    throw py::value_error(std::string("origin ") + which + " " + text_of(number) +
                          " lies outside -2147483648 .. 2147483647");
  }
  return number.cast<int32_t>();
}

// Writes through a temporary file that takes the target's place once complete, where the target
// allows it (a file the user owns, or none yet); otherwise, as the command does, in place.
// Returns the errno of a failure, or -1 for one without.
int write_file(const char* path, const Image* image, ImageFormat format) {
  imagelib_detail::FileReplacement replacement;
  if (imagelib_detail::replacement_begin(path, &replacement)) {
    ByteSink sink = byte_sink_file(replacement.stream);
    const bool written = image_write(&sink, image, format) == ImageStatus::ok;
    const int error = errno;
    switch (imagelib_detail::replacement_finish(&replacement, written)) {
      case imagelib_detail::Replaced::done:
        return 0;
      case imagelib_detail::Replaced::failed:
        return error != 0 ? error : -1;
      case imagelib_detail::Replaced::not_done:
        break;
    }
  }
  errno = 0;
  std::FILE* out = imagelib_detail::open_file(path, "wb");
  if (out == nullptr) {
    return errno != 0 ? errno : -1;
  }
  ByteSink sink = byte_sink_file(out);
  const bool written = image_write(&sink, image, format) == ImageStatus::ok;
  const int error = errno;
  if (std::fclose(out) != 0 || !written) {
    return errno != 0 ? errno : (error != 0 ? error : -1);
  }
  return 0;
}

void write_image(const py::object& path, const py::handle& image_object, const py::handle& origin,
                 const py::object& format) {
  const py::array image = checked_image(image_object, "image");
  if (!py::isinstance<py::tuple>(origin) || py::len(origin) != 2) {
    throw py::type_error("origin must be a tuple (row, col), not " + type_name(origin));
  }
  const auto pair = py::reinterpret_borrow<py::tuple>(origin);
  const int32_t origin_row = origin_part(pair[0], "row");
  const int32_t origin_col = origin_part(pair[1], "col");
  const std::string name = path_bytes(path);
  ImageFormat chosen = image_format_for_name(name.c_str());
  if (!format.is_none()) {
    if (!py::isinstance<py::str>(format)) {
      throw py::type_error("format must be a str or None, not " + type_name(format));
    }
    std::string wanted = py::str(format);
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (wanted == "p2") {
      chosen = ImageFormat::p2;
    } else if (wanted == "p5") {
      chosen = ImageFormat::p5;
    } else if (wanted == "png") {
      chosen = ImageFormat::png;
    } else {
      throw py::value_error("format must be 'p2', 'p5', 'png' or None, not '" +
                            std::string(py::str(format)) + "'");
    }
  }
  if (chosen == ImageFormat::png && !image_png_supported()) {
    throw py::value_error("this build of imagenoise has no PNG (libspng was not found)");
  }
  if (chosen == ImageFormat::png && (image.shape(0) == 0 || image.shape(1) == 0)) {
    throw py::value_error("a PNG file cannot hold an image without pixels (shape " +
                          shape_text(image) + ")");
  }
  int error = 0;
  {
    py::gil_scoped_release release;
    ImageView view;
    view_input(&view, image);
    view.dims.origin_row = origin_row;
    view.dims.origin_col = origin_col;
    errno = 0;
    error = write_file(name.c_str(), &view.image, chosen);
  }
  if (error != 0) {
    raise_os_error(error > 0 ? error : 0, path, "the file could not be written whole");
  }
}

// ---- Noise ----

// A percentage as funcao_exe reads it from its argument: a number's shortest decimal text (its
// repr), rounded once to single precision, so impulse_noise(a, w, d) draws what the command
// draws for the arguments str(w) and str(d).
float percentage(const py::handle& value, const char* name) {
  if (py::isinstance<py::bool_>(value) ||
      !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value) ||
        py::hasattr(value, "__float__"))) {
    throw py::type_error(std::string(name) + " must be a number, not " + type_name(value));
  }
  const double number = py::float_(py::reinterpret_borrow<py::object>(value));
  if (std::isnan(number)) {
    throw py::value_error(std::string(name) + " is not a number (nan)");
  }
  if (number > 100) {
    throw py::value_error(std::string(name) + " must be at most 100, not " +
                          text_of(py::float_(number)));
  }
  char text[32];
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, number);
  float parsed = 0;
  const std::from_chars_result read = std::from_chars(text, written.ptr, parsed);
  if (read.ec == std::errc::result_out_of_range) {
    // Beyond single precision's range the "%f" conversion gives the infinity of the sign; below
    // it, the nearest value, zero or subnormal, which the plain conversion gives as well.
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    if (std::fabs(number) >= 1) {
      parsed = number < 0 ? -kInfinity : kInfinity;
    } else {
      parsed = static_cast<float>(number);
    }
  }
  return parsed;
}

uint32_t seed_value(const py::handle& seed) {
  const py::int_ number = whole_number(seed, "seed");
  if (number < py::int_(0) || number > py::int_(UINT32_MAX)) {
    throw py::value_error("seed must be a whole number from 0 to 4294967295, not " +
                          text_of(number));
  }
  return number.cast<uint32_t>();
}

ImpulseKind impulse_kind(const py::handle& impulse) {
  if (!py::isinstance<py::str>(impulse)) {
    throw py::type_error("impulse must be 'fixed' or 'random', not " + type_name(impulse));
  }
  const std::string kind = py::str(impulse);
  if (kind == "fixed") {
    return ImpulseKind::fixed;
  }
  if (kind == "random") {
    return ImpulseKind::random;
  }
  throw py::value_error("impulse must be 'fixed' or 'random', not '" + kind + "'");
}

py::object impulse_noise(const py::handle& image_object, const py::handle& white_object,
                         const py::handle& density_object, const py::handle& seed_object,
                         bool exact, const py::handle& impulse, bool with_mask) {
  const py::array image = checked_image(image_object, "image");
  const float white = percentage(white_object, "white");
  const float density = percentage(density_object, "density");
  const uint32_t seed = seed_value(seed_object);
  ImpulseOptions options;
  options.exact = exact;
  options.kind = impulse_kind(impulse);
  const int32_t rows = side(image, 0);
  const int32_t cols = side(image, 1);
  ImageView view;
  py::array_t<uint8_t> noisy = new_image(&view, rows, cols);
  // The mask's bytes are numpy's booleans, 0 and 1; the library marks with 255 first.
  ImageView mask_view;
  py::array_t<bool> mask;
  if (with_mask) {
    mask = py::array_t<bool>({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
    view_rows(&mask_view, reinterpret_cast<unsigned char*>(mask.mutable_data()), rows, cols, cols);
    options.mask = &mask_view.image;
  }
  ImpulseCounts counts{};
  {
    py::gil_scoped_release release;
    copy_pixels(image, noisy.mutable_data(), cols);
    counts = add_impulse_noise(&view.image, white, density, seed, options);
    if (with_mask && counts.white >= 0) {
      unsigned char* marks = reinterpret_cast<unsigned char*>(mask.mutable_data());
      const size_t size = static_cast<size_t>(rows) * static_cast<size_t>(cols);
      for (size_t i = 0; i < size; ++i) {
        marks[i] = marks[i] != 0 ? 1 : 0;
      }
    }
  }
  if (counts.white < 0) {
    PyErr_SetString(PyExc_MemoryError, "no memory for the bitmap of the noise points");
    throw py::error_already_set();
  }
  if (with_mask) {
    return py::make_tuple(noisy, mask);
  }
  return std::move(noisy);
}

py::tuple counts_for(const py::handle& shape, const py::handle& white_object,
                     const py::handle& density_object, bool exact, const py::handle& impulse) {
  if (!(py::isinstance<py::tuple>(shape) || py::isinstance<py::list>(shape)) ||
      py::len(shape) != 2) {
    throw py::type_error("shape must be a pair (rows, cols)");
  }
  const auto pair = py::reinterpret_borrow<py::sequence>(shape);
  int32_t sides[2] = {0, 0};
  for (size_t i = 0; i < 2; ++i) {
    const py::int_ number = whole_number(pair[i], "each side of shape");
    if (number < py::int_(0) || number > py::int_(kMaxSide)) {
      throw py::value_error("each side of shape must be from 0 to 2147483647, not " +
                            text_of(number));
    }
    sides[i] = number.cast<int32_t>();
  }
  const float white = percentage(white_object, "white");
  const float density = percentage(density_object, "density");
  ImpulseOptions options;
  options.exact = exact;
  options.kind = impulse_kind(impulse);
  const ImpulseCounts counts = impulse_counts(sides[0], sides[1], white, density, options);
  return py::make_tuple(counts.white, counts.black);
}

// ---- Measures ----

py::dict compare(const py::handle& a_object, const py::handle& b_object,
                 const py::handle& noisy_object) {
  const py::array a = checked_image(a_object, "a");
  const py::array b = checked_image(b_object, "b");
  if (a.shape(0) != b.shape(0) || a.shape(1) != b.shape(1)) {
    throw py::value_error("a and b differ in shape: " + shape_text(a) + " and " + shape_text(b));
  }
  const bool with_noisy = !noisy_object.is_none();
  py::array noisy;
  if (with_noisy) {
    noisy = checked_image(noisy_object, "noisy");
    if (noisy.shape(0) != b.shape(0) || noisy.shape(1) != b.shape(1)) {
      throw py::value_error("noisy and b differ in shape: " + shape_text(noisy) + " and " +
                            shape_text(b));
    }
  }
  Comparison result{};
  double ief = 0;
  {
    py::gil_scoped_release release;
    ImageView view_a;
    ImageView view_b;
    view_input(&view_a, a);
    view_input(&view_b, b);
    result = compare_images(&view_a.image, &view_b.image);
    if (with_noisy) {
      ImageView view_noisy;
      view_input(&view_noisy, noisy);
      ief = image_enhancement_factor(&view_a.image, &view_b.image, &view_noisy.image);
    }
  }
  py::dict measures;
  measures["Erro"] = static_cast<double>(result.erro);
  measures["Erro_medio"] = static_cast<double>(result.erro_medio);
  measures["Sinal_ruido"] = result.sinal_ruido;
  measures["PSNR"] = result.psnr;
  measures["MSE"] = result.mse;
  measures["SSIM"] = result.ssim;
  measures["MAE"] = result.mae;
  if (with_noisy) {
    measures["IEF"] = ief;
  }
  return measures;
}

}  // namespace

PYBIND11_MODULE(imagenoise, m) {
  m.doc() =
      "Impulse (salt and pepper) noise on 2-D uint8 numpy arrays, the image files it reads and "
      "writes, and the measures of a noisy image against its source, each exactly as the "
      "commands funcao_exe and pnm_compare work them out.";
  m.def("read", &read_image, py::arg("path"), py::kw_only(), py::arg("with_origin") = false,
        "The image in a PNM or PNG file as a new 2-D uint8 array. With with_origin=True, the\n"
        "pair (image, (row, col)): the origin the file's \"#origin\" comment (or PNG \"origin\"\n"
        "text) gives, (0, 0) without one. OSError when the file cannot be read, ValueError when\n"
        "it is not an image this reader takes (the reader's reason in the message), MemoryError\n"
        "when its size does not fit the memory.");
  m.def("write", &write_image, py::arg("path"), py::arg("image"),
        py::arg("origin") = py::make_tuple(0, 0), py::arg("format") = py::none(),
        "Writes image (2-D uint8) with origin (row, col), in format 'p2', 'p5' or 'png'; with\n"
        "None, as funcao_exe chooses: PNG for a name ending in .png where PNG is supported,\n"
        "P2 otherwise. A file the user owns is replaced only once the new one is complete.\n"
        "OSError, with the path and the reason, when it cannot be written.");
  m.def("impulse_noise", &impulse_noise, py::arg("image"), py::arg("white"), py::arg("density"),
        py::arg("seed") = 1, py::arg("exact") = false, py::arg("impulse") = "fixed",
        py::arg("mask") = false,
        "A noisy copy of image (2-D uint8, never changed): the pixels funcao_exe writes with\n"
        "--seed <seed> (--exact, --impulse <impulse>) for the percentages white and density,\n"
        "each read as the command reads str() of it. A percentage above 100, or nan, is\n"
        "refused with ValueError. With mask=True, the pair (noisy, mask), mask a boolean array\n"
        "that is True where a point landed.");
  m.def("impulse_counts", &counts_for, py::arg("shape"), py::arg("white"), py::arg("density"),
        py::arg("exact") = false, py::arg("impulse") = "fixed",
        "(white, black): the points funcao_exe draws for an image of shape (rows, cols) with\n"
        "these options (for impulse='random', all the points and 0).");
  m.def("compare", &compare, py::arg("a"), py::arg("b"), py::arg("noisy") = py::none(),
        "pnm_compare's measures of a against the reference b, keyed by its line names\n"
        "(Erro, Erro_medio, Sinal_ruido, PSNR, MSE, SSIM, MAE; IEF with noisy, as\n"
        "pnm_compare --noisy gives it), each the very value it prints.");
}
