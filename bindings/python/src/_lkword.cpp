// The native part of the Python package: the C interface, called with the
// GIL released, its results handed back as plain tuples that lkword/__init__.py
// turns into Documents and exceptions.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/c/lkword.h"

namespace py = pybind11;

namespace {

struct TOptionsDeleter {
  void operator()(lkword_options* O) const { lkword_options_free(O); }
};
struct TResultDeleter {
  void operator()(lkword_result* R) const { lkword_result_free(R); }
};
using TOptions = std::unique_ptr<lkword_options, TOptionsDeleter>;
using TResult = std::unique_ptr<lkword_result, TResultDeleter>;

void Check(lkword_error Error, const char* What) {
  if (Error != LKWORD_OK) throw py::value_error(What);
}

TOptions MakeOptions(int Format, const std::vector<std::string>& Passwords, bool Notes, bool Macros, bool Hidden,
                     int64_t MaxLength, int64_t TimeoutMs, const std::optional<std::string>& Reader,
                     const std::optional<std::string>& Encoding, bool Changes, int32_t FirstPage, int32_t LastPage) {
  TOptions o(lkword_options_new());
  if (!o) throw std::bad_alloc();
  Check(lkword_options_set_format(o.get(), static_cast<lkword_format>(Format)), "unknown format");
  Check(lkword_options_set_flag(o.get(), LKWORD_FLAG_NOTES, Notes), "notes");
  Check(lkword_options_set_flag(o.get(), LKWORD_FLAG_MACROS, Macros), "macros");
  Check(lkword_options_set_flag(o.get(), LKWORD_FLAG_HIDDEN, Hidden), "hidden");
  Check(lkword_options_set_flag(o.get(), LKWORD_FLAG_CHANGES, Changes), "changes");
  Check(lkword_options_set_limit(o.get(), LKWORD_LIMIT_MAX_TEXT_LENGTH, MaxLength),
        "max_length must be between 0 and 2147483647");
  Check(lkword_options_set_limit(o.get(), LKWORD_LIMIT_TIME_MS, TimeoutMs), "timeout must not be negative");
  Check(lkword_options_set_page_range(o.get(), FirstPage, LastPage), "pages are counted from 1");
  for (const std::string& p : Passwords) Check(lkword_options_add_password(o.get(), p.c_str()), "password");
  if (Reader && lkword_options_set_reader(o.get(), Reader->c_str()) != LKWORD_OK)
    throw py::value_error("unknown reader: " + *Reader);
  if (Encoding && lkword_options_set_encoding(o.get(), Encoding->c_str()) != LKWORD_OK)
    throw py::value_error("unknown encoding: " + *Encoding);
  return o;
}

py::str Utf8(const char* Data, size_t Size) {
  // The library writes valid UTF-8; "replace" only guards the interpreter.
  PyObject* s = PyUnicode_DecodeUTF8(Data, static_cast<Py_ssize_t>(Size), "replace");
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

py::object Str(const char* S) { return S ? py::object(Utf8(S, std::strlen(S))) : py::object(py::none()); }

// (error, message, reader, text, pages, metadata, warnings, notes, macros,
// partial):
// metadata as (key, value, type) with type 0 text, 1 integer, 2 date.
py::tuple Unpack(const lkword_result* R) {
  size_t n = 0;
  const char* text = lkword_result_text(R, &n);
  py::str body = Utf8(text, n);
  py::list metadata, warnings, notes;
  for (size_t i = 0; i < lkword_result_metadata_count(R); ++i)
    metadata.append(py::make_tuple(Str(lkword_result_metadata_key(R, i)), Str(lkword_result_metadata_value(R, i)),
                                   static_cast<int>(lkword_result_metadata_type(R, i))));
  for (size_t i = 0; i < lkword_result_warning_count(R); ++i) warnings.append(Str(lkword_result_warning(R, i)));
  for (size_t i = 0; i < lkword_result_note_count(R); ++i) {
    const char* t = lkword_result_note_text(R, i, &n);
    notes.append(py::make_tuple(Str(lkword_result_note_name(R, i)), Utf8(t, n)));
  }
  const char* macros = lkword_result_macros(R, &n);
  return py::make_tuple(static_cast<int>(lkword_result_error(R)), Str(lkword_result_message(R)),
                        Str(lkword_result_reader(R)), body, lkword_result_pages(R), metadata, warnings, notes,
                        Utf8(macros, n), lkword_result_partial(R) != 0);
}

TResult Checked(lkword_result* R) {
  if (!R) throw std::bad_alloc();
  return TResult(R);
}

py::tuple ExtractPath(const std::string& Path, int Format, const std::vector<std::string>& Passwords, bool Notes,
                      bool Macros, bool Hidden, int64_t MaxLength, int64_t TimeoutMs,
                      const std::optional<std::string>& Reader, const std::optional<std::string>& Encoding,
                      bool Changes, int32_t FirstPage, int32_t LastPage) {
  TOptions o = MakeOptions(Format, Passwords, Notes, Macros, Hidden, MaxLength, TimeoutMs, Reader, Encoding, Changes,
                           FirstPage, LastPage);
  TResult r;
  {
    py::gil_scoped_release unlocked;
    r = Checked(lkword_extract_file(Path.c_str(), o.get()));
  }
  return Unpack(r.get());
}

py::tuple ExtractBuffer(const py::buffer& Data, int Format, const std::vector<std::string>& Passwords, bool Notes,
                        bool Macros, bool Hidden, int64_t MaxLength, int64_t TimeoutMs,
                        const std::optional<std::string>& Reader, const std::optional<std::string>& Encoding,
                      bool Changes, int32_t FirstPage, int32_t LastPage) {
  TOptions o = MakeOptions(Format, Passwords, Notes, Macros, Hidden, MaxLength, TimeoutMs, Reader, Encoding, Changes,
                           FirstPage, LastPage);
  // A contiguous read-only view; the caller's object keeps it alive.
  py::buffer_info view = Data.request();
  if (view.ndim > 1 && !PyBuffer_IsContiguous(view.view(), 'C')) throw py::value_error("the buffer is not contiguous");
  const size_t size = static_cast<size_t>(view.size * view.itemsize);
  TResult r;
  {
    py::gil_scoped_release unlocked;
    r = Checked(lkword_extract_memory(view.ptr, size, o.get()));
  }
  return Unpack(r.get());
}

py::object DetectPath(const std::string& Path) {
  const char* name;
  {
    py::gil_scoped_release unlocked;
    name = lkword_detect_file(Path.c_str());
  }
  return Str(name);
}

py::object DetectBuffer(const py::buffer& Data) {
  py::buffer_info view = Data.request();
  const char* name;
  {
    py::gil_scoped_release unlocked;
    name = lkword_detect_memory(view.ptr, static_cast<size_t>(view.size * view.itemsize));
  }
  return Str(name);
}

std::vector<std::string> Readers() {
  std::vector<std::string> names;
  for (size_t i = 0; i < lkword_reader_count(); ++i) names.emplace_back(lkword_reader_name(i));
  return names;
}

}  // namespace

PYBIND11_MODULE(_lkword, m) {
  m.doc() = "Native part of the lkword package; use the lkword module.";
  m.attr("__version__") = lkword_version();
  m.def("extract_path", &ExtractPath, py::arg("path"), py::arg("format"), py::arg("passwords"), py::arg("notes"),
        py::arg("macros"), py::arg("hidden"), py::arg("max_length"), py::arg("timeout_ms"), py::arg("reader"),
        py::arg("encoding"), py::arg("changes"), py::arg("first_page"), py::arg("last_page"));
  m.def("extract_buffer", &ExtractBuffer, py::arg("data"), py::arg("format"), py::arg("passwords"),
        py::arg("notes"), py::arg("macros"), py::arg("hidden"), py::arg("max_length"), py::arg("timeout_ms"),
        py::arg("reader"), py::arg("encoding"), py::arg("changes"), py::arg("first_page"), py::arg("last_page"));
  m.def("detect_path", &DetectPath, py::arg("path"));
  m.def("detect_buffer", &DetectBuffer, py::arg("data"));
  m.def("readers", &Readers);
}
