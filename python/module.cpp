// boolconv._boolconv: the native part of the Python package boolconv. It
// converts, checks, tidies, explains and reads histories over Python
// strings, and converts streams of expressions on several threads. The
// package (boolconv/__init__.py) is what users import; its stubs describe
// this module's types.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <istream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cli/input.h"
#include "cli/ordered_map.h"
#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/explain.h"
#include "diagnostics/history.h"
#include "textfuncs/funclib.h"

#ifndef BOOLCONV_VERSION
#error "BOOLCONV_VERSION must name the version"
#endif

namespace py = pybind11;

namespace boolconv::python {
namespace {

// Below this many bytes a call keeps the interpreter lock: releasing and
// taking it again costs more than converting a typical strategy.
constexpr size_t kReleaseLockBytes = size_t{16} << 10;

// convert_many hands expressions to its threads in batches of this many, or
// of this many bytes, whichever comes first: enough that handing a batch
// over is a small part of converting it, few enough that results start
// coming soon and memory stays small.
constexpr size_t kBatchExpressions = 1024;
constexpr size_t kBatchBytes = size_t{256} << 10;
// Batches in flight per thread. The calling thread spends about as long on
// a batch's results (making Python objects, and the caller's own work on
// them) as a worker spends converting it: with a single batch queued per
// worker, workers would wait for it.
constexpr size_t kBatchesInFlightPerJob = 3;

// boolconv.ConversionError, defined in Python (boolconv/_errors.py) so that
// it pickles and documents like any Python exception. Set at import; never
// freed, as the interpreter may outlive this module's statics.
PyObject* conversion_error_type = nullptr;

// Raises ConversionError(message, code, warnings) in Python.
[[noreturn]] void RaiseConversionError(int32_t code, std::string_view message,
                                       const std::vector<std::string>& warnings = {}) {
  py::tuple prompts(warnings.size());
  for (size_t i = 0; i < warnings.size(); ++i) prompts[i] = py::str(warnings[i]);
  py::object error = py::reinterpret_borrow<py::object>(conversion_error_type)(
      py::str(message.data(), message.size()), code, prompts);
  PyErr_SetObject(conversion_error_type, error.ptr());
  throw py::error_already_set();
}

// The message for `text`, a str that holds a lone surrogate, naming the
// first one. Such a str comes from decoding bytes with
// errors="surrogateescape" or "surrogatepass"; it has no UTF-8 or UTF-16
// form, and a character count that would not match the library's.
std::string LoneSurrogateMessage(PyObject* text) {
  const int kind = PyUnicode_KIND(text);
  const void* data = PyUnicode_DATA(text);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
  Py_ssize_t at = 0;
  uint32_t code_point = 0;
  for (; at < length; ++at) {
    code_point = PyUnicode_READ(kind, data, at);
    if (code_point >= 0xD800 && code_point <= 0xDFFF) break;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(code_point));
  return "Not valid text: a lone surrogate U+" + std::string(hex) + " at index " +
         std::to_string(at) +
         " (text decoded with errors=\"surrogateescape\" or \"surrogatepass\"); decode it "
         "strictly, or with errors=\"replace\".";
}

[[noreturn]] void RaiseLoneSurrogate(PyObject* text) {
  RaiseConversionError(kInvalidUtf8Error, LoneSurrogateMessage(text));
}

std::string TypeName(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

// The UTF-8 of `expression`, a str or bytes (taken as UTF-8, as read from a
// file in binary), valid while `expression` lives. A str keeps its UTF-8 once
// asked for it; an ASCII one is its own UTF-8, so this copies nothing.
std::string_view Utf8Of(py::handle expression) {
  PyObject* object = expression.ptr();
  if (PyUnicode_Check(object)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) {
      PyErr_Clear();
      RaiseLoneSurrogate(object);
    }
    return {data, static_cast<size_t>(size)};
  }
  if (PyBytes_Check(object)) {
    return {PyBytes_AS_STRING(object), static_cast<size_t>(PyBytes_GET_SIZE(object))};
  }
  throw py::type_error("an expression must be str or bytes, not " + TypeName(expression));
}

// `expression`, a str, in UTF-16 for the diagnostics, whose positions count
// code points as Python's indices do.
Text TextOf(py::handle expression) {
  PyObject* object = expression.ptr();
  if (!PyUnicode_Check(object)) {
    throw py::type_error("an expression must be str, not " + TypeName(expression));
  }
  const int kind = PyUnicode_KIND(object);
  const void* data = PyUnicode_DATA(object);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
  Text text;
  text.reserve(static_cast<size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) {
    const uint32_t code_point = PyUnicode_READ(kind, data, i);
    if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      RaiseLoneSurrogate(object);
    }
    if (code_point > 0xFFFF) {
      text.push_back(static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code_point));
    }
  }
  return text;
}

// UTF-16 `text` (holding no lone surrogate: it comes from a str) as a str.
py::str StrOf(std::u16string_view text) {
  // Explicit byte order: with "native" (0) a leading U+FEFF would be read as
  // a byte-order mark and dropped.
  int byte_order = std::endian::native == std::endian::little ? -1 : 1;
  PyObject* str = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                                        static_cast<Py_ssize_t>(text.size() * sizeof(char16_t)),
                                        "strict", &byte_order);
  if (str == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(str);
}

py::str StrOf(std::string_view utf8) { return py::str(utf8.data(), utf8.size()); }

// Lets go of the interpreter lock for its lifetime. Unlike
// py::gil_scoped_release, its destructor may throw: a daemon thread that
// takes the lock back while the interpreter shuts down is ended by an
// unwinding exception, which must pass through here.
class Unlocked {
 public:
  Unlocked() : state_(PyEval_SaveThread()) {}
  ~Unlocked() noexcept(false) { PyEval_RestoreThread(state_); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* state_;
};

// Past this many bytes of input, a thread's engine and result are made anew
// after the call, so that one huge expression does not keep its memory for
// the life of the thread.
constexpr size_t kKeepMemoryBytes = size_t{1} << 20;

// The engine of the calling thread: an engine serves one conversion at a
// time, and Python threads may convert at once.
BoolFuncs& ThreadEngine() {
  thread_local BoolFuncs engine;
  return engine;
}

// --- Results -----------------------------------------------------------------

// Conversion, Diagnostic and Tidied are struct sequences, the C API's named
// tuples (as os.stat_result): immutable, compared, hashed and pickled by
// value, and made at the cost of a tuple. Bulk conversion makes one per
// expression, and a pybind11 instance costs several times as much.
PyTypeObject* conversion_type = nullptr;
PyTypeObject* diagnostic_type = nullptr;
PyTypeObject* tidied_type = nullptr;

// A new struct sequence of `type` holding `fields`.
py::object Record(PyTypeObject* type, std::initializer_list<py::object> fields) {
  PyObject* record = PyStructSequence_New(type);
  if (record == nullptr) throw py::error_already_set();
  Py_ssize_t i = 0;
  for (const py::object& field : fields) {
    PyStructSequence_SetItem(record, i++, field.inc_ref().ptr());  // steals the reference
  }
  return py::reinterpret_steal<py::object>(record);
}

py::tuple TupleOf(const std::vector<std::string>& texts) {
  py::tuple tuple(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) tuple[i] = StrOf(texts[i]);
  return tuple;
}

// A tuple of bound C++ values (explanation parts, history lines, numbers).
template <typename T>
py::tuple TupleOf(const std::vector<T>& values) {
  py::tuple tuple(values.size());
  for (size_t i = 0; i < values.size(); ++i) tuple[i] = py::cast(values[i]);
  return tuple;
}

py::object ObjectOf(const Diagnostic& d) {
  return Record(diagnostic_type, {StrOf(d.code), StrOf(SeverityName(d.severity)), StrOf(d.message),
                                  py::int_(d.start), py::int_(d.end)});
}

py::list ListOf(const std::vector<Diagnostic>& found) {
  py::list list(found.size());
  for (size_t i = 0; i < found.size(); ++i) list[i] = ObjectOf(found[i]);
  return list;
}

py::tuple TupleOf(const std::vector<Diagnostic>& found) { return py::tuple(ListOf(found)); }

py::object ConversionOf(std::string_view operator_form, std::string_view sign_form,
                        py::tuple warnings, size_t warnings_dropped) {
  return Record(conversion_type, {StrOf(operator_form), StrOf(sign_form), std::move(warnings),
                                  py::int_(warnings_dropped)});
}

// A struct sequence type named boolconv.<name>, its fields documented.
PyTypeObject* RecordType(py::module_& module, const char* name, const char* doc,
                         std::initializer_list<std::pair<const char*, const char*>> fields) {
  // The descriptions must outlive the type, which lives as long as the
  // interpreter.
  auto* described = new std::vector<PyStructSequence_Field>();
  for (const auto& [field, field_doc] : fields) described->push_back({field, field_doc});
  described->push_back({nullptr, nullptr});
  auto* desc =
      new PyStructSequence_Desc{name, doc, described->data(), static_cast<int>(fields.size())};
  PyTypeObject* type = PyStructSequence_NewType(desc);
  if (type == nullptr) throw py::error_already_set();
  const std::string_view full_name(name);
  module.add_object(std::string(full_name.substr(full_name.rfind('.') + 1)).c_str(),
                    py::handle(reinterpret_cast<PyObject*>(type)));
  return type;
}

// --- One expression ------------------------------------------------------------

py::object Convert(py::handle expression) {
  const std::string_view utf8 = Utf8Of(expression);
  thread_local Conversion result;  // its memory serves the next conversion
  struct LetGo {                   // after a huge expression, its memory
    bool huge;
    ~LetGo() {
      if (!huge) return;
      result = Conversion();
      ThreadEngine() = BoolFuncs();
    }
  } let_go{utf8.size() > kKeepMemoryBytes};
  try {
    if (utf8.size() >= kReleaseLockBytes) {
      const Unlocked unlocked;
      ThreadEngine().Convert(utf8, result);
    } else {
      ThreadEngine().Convert(utf8, result);
    }
  } catch (const Error& e) {
    RaiseConversionError(e.number(), e.what(), result.warnings);
  }
  return ConversionOf(result.operator_form, result.sign_form, TupleOf(result.warnings),
                      result.warnings_dropped);
}

// Runs `work` on `text`, without the interpreter lock where that pays.
template <typename Work>
auto WithoutLock(std::u16string_view text, Work work) {
  if (text.size() < kReleaseLockBytes) return work();
  const Unlocked unlocked;
  return work();
}

py::list CheckExpression(py::handle expression) {
  const Text text = TextOf(expression);
  return ListOf(WithoutLock(text, [&] { return Check(text); }));
}

py::object TidyExpression(py::handle expression, py::handle capitals_object) {
  if (!PyBool_Check(capitals_object.ptr())) {
    throw py::type_error("capitals must be True or False, not " + TypeName(capitals_object));
  }
  const bool capitals = capitals_object.ptr() == Py_True;
  const Text text = TextOf(expression);
  TidyResult tidied =
      WithoutLock(text, [&] { return Tidy(text, {.capitalize_operators = capitals}); });
  return Record(tidied_type, {StrOf(tidied.expression), TupleOf(tidied.repairs)});
}

// An explanation with the text its spans point into, which drawing quotes.
struct PyExplanation {
  Explanation tree;
  Text text;
  py::object groups;  // the groups as Python objects, made at the first request
};

py::object ExplainExpression(py::handle expression) {
  Text text = TextOf(expression);
  Explanation tree = WithoutLock(text, [&] { return Explain(text); });
  return py::cast(PyExplanation{std::move(tree), std::move(text), {}});
}

// A history with the text it was read from.
struct PyHistory {
  History history;
  Text text;
};

// `line` is None (the last line no other line uses) or a line's number.
py::object ReadHistoryText(py::handle text_object, py::handle line_object) {
  Text text = TextOf(text_object);
  uint64_t line = 0;
  if (!line_object.is_none()) {
    if (!PyLong_Check(line_object.ptr()) || PyBool_Check(line_object.ptr())) {
      throw py::type_error("line must be an int or None, not " + TypeName(line_object));
    }
    const py::int_ number = py::reinterpret_borrow<py::int_>(line_object);
    if (number < py::int_(1)) {
      throw py::value_error("line must be a line's number, 1 or more, not " +
                            py::repr(number).cast<std::string>());
    }
    line = PyLong_AsUnsignedLongLong(number.ptr());
    if (PyErr_Occurred()) throw py::error_already_set();
  }
  History history = WithoutLock(text, [&] { return ReadHistory(text, line); });
  return py::cast(PyHistory{std::move(history), std::move(text)});
}

// The history's findings and Check's findings on its combined expression,
// all in the history's text, in the order of their positions.
py::list CheckHistory(const PyHistory& read) {
  const History& history = read.history;
  std::vector<Diagnostic> found = history.findings;
  if (!history.combined.empty()) {
    std::vector<Diagnostic> checked =
        WithoutLock(history.combined, [&] { return Check(history.combined); });
    history.MapToInput(checked);
    found.insert(found.end(), checked.begin(), checked.end());
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.start < b.start || (a.start == b.start && a.end < b.end);
  });
  return ListOf(found);
}

py::object ExplainHistory(const PyHistory& read) {
  const History& history = read.history;
  Explanation tree = WithoutLock(history.combined, [&] { return Explain(history.combined); });
  MapToInput(tree, nullptr, &history);
  return py::cast(PyExplanation{std::move(tree), read.text, {}});
}

// For the benchmark: the seconds the engine alone takes to convert each of
// `expressions` (bytes, UTF-8) `rounds` times on this thread, with the same
// reuse of memory as convert(). What a convert() call costs above this is
// the binding's.
double TimeEngine(const py::list& expressions, int rounds) {
  std::vector<std::string> texts;
  for (const py::handle expression : expressions) texts.emplace_back(Utf8Of(expression));
  const Unlocked unlocked;
  Conversion result;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& text : texts) {
      try {
        ThreadEngine().Convert(text, result);
      } catch (const Error&) {
        // Timed like any other expression.
      }
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --- Many expressions on several threads ------------------------------------

// Expressions read from the iterable, one after the other in `text`.
struct Batch {
  std::string text;
  std::vector<size_t> ends;                              // where each ends in `text`
  std::vector<std::pair<size_t, std::string>> refusals;  // (index, message): not converted
};

// A batch's results: each expression's operator form, sign form and
// warnings (or its error message) one after the other in `text`.
struct Converted {
  struct Row {
    int32_t error = 0;  // the error's number; 0 when the expression converted
    size_t warnings = 0;
    size_t warnings_dropped = 0;
  };
  std::string text;
  std::vector<Row> rows;
  std::vector<size_t> ends;  // where each piece of text ends
};

Converted ConvertBatch(BoolFuncs& engine, Conversion& result, const Batch& batch) {
  Converted converted;
  converted.rows.reserve(batch.ends.size());
  converted.text.reserve(2 * batch.text.size());
  auto refusal = batch.refusals.begin();
  auto add = [&converted](std::string_view piece) {
    converted.text.append(piece);
    converted.ends.push_back(converted.text.size());
  };
  size_t start = 0;
  for (size_t i = 0; i < batch.ends.size(); ++i) {
    Converted::Row row;
    if (refusal != batch.refusals.end() && refusal->first == i) {
      row.error = kInvalidUtf8Error;
      add(refusal->second);
      ++refusal;
    } else {
      try {
        engine.Convert(std::string_view(batch.text).substr(start, batch.ends[i] - start), result);
        add(result.operator_form);
        add(result.sign_form);
      } catch (const Error& e) {
        row.error = e.number();
        add(e.what());
      }
      row.warnings = result.warnings.size();
      row.warnings_dropped = result.warnings_dropped;
      for (const std::string& warning : result.warnings) add(warning);
    }
    converted.rows.push_back(row);
    start = batch.ends[i];
  }
  return converted;
}

// A Python binary file (anything with readinto) as a stream buffer, so that
// convert_many reads a file's lines as boolconv-cli reads standard input,
// with the tool's own reader. The file is handed in for each batch and let
// go after it; reading happens with the interpreter lock held. An exception
// from the file ends the stream and is kept for the caller.
class FileBuffer : public std::streambuf {
 public:
  void Attach(py::handle file) { file_ = file; }
  void Detach() { file_ = py::handle(); }
  std::optional<py::error_already_set>& error() { return error_; }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (!file_ || error_) return traits_type::eof();
    size_t count = 0;
    try {
      const py::object read = file_.attr("readinto")(
          py::memoryview::from_memory(block_.data(), static_cast<py::ssize_t>(block_.size())));
      if (read.is_none()) {
        throw py::value_error("convert_many cannot read a file in non-blocking mode");
      }
      count = read.cast<size_t>();
    } catch (py::error_already_set& e) {
      error_ = std::move(e);
    } catch (const std::exception& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
      error_ = py::error_already_set();
    }
    if (error_ || count == 0) return traits_type::eof();
    setg(block_.data(), block_.data(), block_.data() + count);
    return traits_type::to_int_type(block_[0]);
  }

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 20;
  py::handle file_;
  std::vector<char> block_ = std::vector<char>(kBlockBytes);
  std::optional<py::error_already_set> error_;
};

// convert_many's work. The calling thread reads expressions from the
// iterable and makes the result objects, holding the interpreter lock; the
// workers convert batches meanwhile, without it. At most one batch per
// worker and one more are in flight, so memory stays bounded however long
// the input. The iterable is handed in by each call, not kept here: the
// Python generator that calls holds it, where the garbage collector sees
// every reference.
class ConvertMany {
 public:
  // With `lines_of_file`, each call hands in a binary file whose lines are
  // the expressions; otherwise an iterator of them.
  ConvertMany(unsigned jobs, bool return_errors, bool lines_of_file)
      : return_errors_(return_errors),
        file_(lines_of_file ? std::make_unique<File>() : nullptr),
        map_(std::make_unique<Map>(
            jobs,
            [] {
              // The work is copied into a std::function: it holds its engine
              // and result by pointer.
              auto engine = std::make_shared<BoolFuncs>();
              auto result = std::make_shared<Conversion>();
              return
                  [engine, result](Batch& batch) { return ConvertBatch(*engine, *result, batch); };
            },
            [this](Converted& converted) {
              ready_.push_back(std::move(converted));
              return true;
            },
            kBatchesInFlightPerJob * jobs)) {}

  ~ConvertMany() {
    // In a child process made by fork() the workers do not exist: the map
    // cannot stop them, and is left behind.
    if (getpid() != parent_) static_cast<void>(map_.release());
  }

  ConvertMany(const ConvertMany&) = delete;
  ConvertMany& operator=(const ConvertMany&) = delete;

  // The results of the next converted batch of `expressions`, in input
  // order; None at the end. With errors raised, a failing expression ends
  // the list before it, and the next call raises its error: the caller has
  // had every result before it.
  py::object Next(py::handle expressions) {
    if (getpid() != parent_) {
      throw std::runtime_error(
          "convert_many's iterator was started before os.fork(), and its threads stayed in "
          "the parent process: start a new one in this process");
    }
    // The lock is let go while waiting for workers, so another thread could
    // call in meanwhile: this object's state is the calling thread's alone.
    if (busy_) {
      throw py::value_error("convert_many's iterator is already running in another thread");
    }
    busy_ = true;
    struct Done {
      bool& busy;
      ~Done() { busy = false; }
    } done{busy_};
    if (error_) RaiseAndFinish(std::move(error_));
    while (ready_.empty()) {
      if (finished_) return py::none();
      if (!exhausted_) {
        Batch batch = file_ ? ReadLines(expressions) : ReadBatch(expressions);
        const Unlocked unlocked;
        if (!batch.ends.empty()) map_->Add(std::move(batch));
      } else if (!drained_) {
        const Unlocked unlocked;
        map_->Drain();
        drained_ = true;
      } else if (failure_) {
        // The iterable failed, or gave something not an expression: that
        // comes in its turn, after the results of what came before it.
        finished_ = true;
        py::error_already_set failure = std::move(*failure_);
        failure_.reset();
        failure.restore();
        throw py::error_already_set();
      } else {
        finished_ = true;
      }
    }
    const Converted converted = std::move(ready_.front());
    ready_.pop_front();
    return ResultsOf(converted);
  }

 private:
  using Map = cli::OrderedParallelMap<Batch, Converted>;

  [[noreturn]] void RaiseAndFinish(py::object error) {
    finished_ = true;
    PyErr_SetObject(conversion_error_type, error.ptr());
    throw py::error_already_set();
  }

  Batch ReadBatch(py::handle expressions) {
    Batch batch;
    while (batch.ends.size() < kBatchExpressions && batch.text.size() < kBatchBytes) {
      try {
        PyObject* item = PyIter_Next(expressions.ptr());
        if (item == nullptr) {
          if (PyErr_Occurred()) throw py::error_already_set();
          exhausted_ = true;
          break;
        }
        const py::object expression = py::reinterpret_steal<py::object>(item);
        if (PyUnicode_Check(item) && PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) {
          PyErr_Clear();
          batch.refusals.emplace_back(batch.ends.size(), LoneSurrogateMessage(item));
        } else {
          batch.text.append(Utf8Of(expression));
        }
        batch.ends.push_back(batch.text.size());
      } catch (py::error_already_set& e) {
        failure_ = std::move(e);
        exhausted_ = true;
        break;
      } catch (const py::type_error& e) {
        PyErr_SetString(PyExc_TypeError, e.what());
        failure_ = py::error_already_set();
        exhausted_ = true;
        break;
      }
    }
    return batch;
  }

  // The next batch of lines of `file`, read as boolconv-cli reads them.
  Batch ReadLines(py::handle file) {
    Batch batch;
    file_->buffer.Attach(file);
    struct Detach {
      FileBuffer& buffer;
      ~Detach() { buffer.Detach(); }
    } detach{file_->buffer};
    std::string_view line;
    while (batch.ends.size() < kBatchExpressions && batch.text.size() < kBatchBytes) {
      if (!file_->reader.NextLine(line)) {
        exhausted_ = true;
        if (file_->buffer.error()) {
          failure_ = std::move(file_->buffer.error());
        } else if (file_->reader.failed()) {
          PyErr_SetString(PyExc_OSError, "convert_many could not read the file");
          failure_ = py::error_already_set();
        }
        break;
      }
      batch.text.append(line);
      batch.ends.push_back(batch.text.size());
    }
    return batch;
  }

  py::list ResultsOf(const Converted& converted) {
    py::list results(converted.rows.size());
    size_t piece = 0;
    auto next_piece = [&] {
      const size_t start = piece == 0 ? 0 : converted.ends[piece - 1];
      return std::string_view(converted.text).substr(start, converted.ends[piece++] - start);
    };
    for (size_t i = 0; i < converted.rows.size(); ++i) {
      const Converted::Row& row = converted.rows[i];
      const std::string_view first = next_piece();  // the operator form, or the error
      const std::string_view sign_form = row.error == 0 ? next_piece() : std::string_view();
      py::tuple warnings(row.warnings);
      for (size_t w = 0; w < row.warnings; ++w) warnings[w] = StrOf(next_piece());
      if (row.error == 0) {
        results[i] = ConversionOf(first, sign_form, std::move(warnings), row.warnings_dropped);
        continue;
      }
      py::object error = py::reinterpret_borrow<py::object>(conversion_error_type)(
          StrOf(first), row.error, std::move(warnings));
      if (return_errors_) {
        results[i] = std::move(error);
        continue;
      }
      if (i == 0) RaiseAndFinish(error);
      error_ = std::move(error);
      return results[py::slice(0, static_cast<py::ssize_t>(i), 1)];
    }
    return results;
  }

  const pid_t parent_ = getpid();
  bool return_errors_;
  bool exhausted_ = false;  // no more is read from the iterable
  bool drained_ = false;    // every batch read has come back
  bool finished_ = false;   // nothing more comes
  bool busy_ = false;
  py::object error_;  // the ConversionError to raise next
  std::optional<py::error_already_set> failure_;
  std::deque<Converted> ready_;  // converted batches, in order
  // A file's lines, read with boolconv-cli's reader.
  struct File {
    FileBuffer buffer;
    std::istream stream{&buffer};
    cli::InputReader reader{stream};
  };
  std::unique_ptr<File> file_;
  std::unique_ptr<Map> map_;  // last: its workers use the members above
};

// As many threads as boolconv-cli --jobs allows.
constexpr int kMostJobs = 256;

std::unique_ptr<ConvertMany> MakeConvertMany(py::handle jobs, py::handle errors,
                                             bool lines_of_file) {
  if (!PyUnicode_Check(errors.ptr()) || (py::str(errors).cast<std::string>() != "raise" &&
                                         py::str(errors).cast<std::string>() != "return")) {
    throw py::value_error("errors must be \"raise\" or \"return\", not " +
                          py::repr(errors).cast<std::string>());
  }
  unsigned threads = std::max(std::thread::hardware_concurrency(), 1u);
  if (!jobs.is_none()) {
    if (!PyLong_Check(jobs.ptr()) || PyBool_Check(jobs.ptr())) {
      throw py::type_error("jobs must be an int or None, not " + TypeName(jobs));
    }
    const long long count = PyLong_AsLongLong(jobs.ptr());
    if (count == -1 && PyErr_Occurred()) PyErr_Clear();
    if (count < 1 || count > kMostJobs) {
      throw py::value_error("jobs must be a number of threads from 1 to " +
                            std::to_string(kMostJobs) + ", not " +
                            py::repr(jobs).cast<std::string>());
    }
    threads = static_cast<unsigned>(count);
  }
  return std::make_unique<ConvertMany>(threads, py::str(errors).cast<std::string>() == "return",
                                       lines_of_file);
}

// --- Representations -----------------------------------------------------------

std::string Draw(const PyExplanation& explanation) {
  return WithoutLock(explanation.text,
                     [&] { return DrawExplanation(explanation.tree, explanation.text); });
}

// Why `history` has no combined expression, as boolconv-cli --history says
// it: its first error, or that it holds no numbered line; None when it has
// one.
py::object HistoryError(const History& history) {
  if (!history.combined.empty()) return py::none();
  for (const Diagnostic& d : history.findings) {
    if (d.severity == Severity::kError) return StrOf(d.message);
  }
  return StrOf("The input holds no numbered line.");
}

std::string_view KindName(ExplainItem::Kind kind) {
  switch (kind) {
    case ExplainItem::Kind::kWord:
      return "word";
    case ExplainItem::Kind::kPhrase:
      return "phrase";
    case ExplainItem::Kind::kGroup:
      return "group";
  }
  return "word";
}

}  // namespace
}  // namespace boolconv::python

using namespace boolconv;
using namespace boolconv::python;

PYBIND11_MODULE(_boolconv, module) {
  module.doc() = "The native part of boolconv; import boolconv instead.";
  // Each docstring starts with the signature as Python writes it; pybind11's
  // would name C++ types.
  py::options options;
  options.disable_function_signatures();
  // The exception type lives in Python; this module raises it.
  conversion_error_type =
      py::object(py::module_::import("boolconv._errors").attr("ConversionError")).release().ptr();

  conversion_type = RecordType(
      module, "boolconv.Conversion", "A converted expression.",
      {{"operator_form", "every group in parentheses, AND written out: (a AND b or c)"},
       {"sign_form", "each term marked required (+), optional or excluded (-): (+a +b c)"},
       {"warnings", "the tokenizer's warnings (an unclosed quote), the first of them"},
       {"warnings_dropped", "how many warnings came after those kept"}});
  diagnostic_type = RecordType(module, "boolconv.Diagnostic",
                               "A finding, or a repair, about expression[start:end].",
                               {{"code", "a stable code, such as unclosed-quote"},
                                {"severity", "error, warning or info"},
                                {"message", "what the conversion does there, and what to do"},
                                {"start", "the index of the first character concerned"},
                                {"end", "the index after the last character concerned"}});
  tidied_type = RecordType(module, "boolconv.Tidied", "A tidied expression.",
                           {{"expression", "the cleaned expression"},
                            {"repairs", "one Diagnostic per change, at its place in the input"}});

  py::class_<ExplainItem>(module, "ExplainItem",
                          "One item of a group: a word, a phrase or a group.")
      .def_property_readonly(
          "kind", [](const ExplainItem& i) { return KindName(i.kind); }, "word, phrase or group")
      .def_property_readonly(
          "presence", [](const ExplainItem& i) { return PresenceName(i.presence); },
          "what the sign form makes of it: required (+), optional (bare) or excluded (-)")
      .def_readonly("joined_by", &ExplainItem::joined_by,
                    "the operator before it as the operator form writes it (AND for words "
                    "written next to each other); empty for the first item")
      .def_readonly("start", &ExplainItem::start, "where it starts in the expression")
      .def_readonly("end", &ExplainItem::end, "where it ends (exclusive)")
      .def_property_readonly(
          "group",
          [](const ExplainItem& i) -> py::object {
            if (i.kind != ExplainItem::Kind::kGroup) return py::none();
            return py::int_(i.group);
          },
          "for a group, its index in Explanation.groups; else None")
      .def("__repr__", [](const ExplainItem& i) {
        return "ExplainItem(kind='" + std::string(KindName(i.kind)) + "', presence='" +
               std::string(PresenceName(i.presence)) + "', start=" + std::to_string(i.start) +
               ", end=" + std::to_string(i.end) + ")";
      });

  py::class_<ExplainGroup>(module, "ExplainGroup", "A group the conversion puts in parentheses.")
      .def_readonly("start", &ExplainGroup::start, "where it starts, at its \"(\" if typed")
      .def_readonly("end", &ExplainGroup::end, "where it ends (exclusive)")
      .def_property_readonly(
          "items", [](const ExplainGroup& g) { return TupleOf(g.items); },
          "its items, two or more, in order")
      .def_readonly("mixed", &ExplainGroup::mixed,
                    "whether it mixes explicit AND (or NOT) with OR, which databases read "
                    "differently")
      .def_readonly("left_to_right", &ExplainGroup::left_to_right,
                    "for a mixed group, its operator form read left to right (PubMed)")
      .def_readonly("and_first", &ExplainGroup::and_first,
                    "for a mixed group, read with AND before OR (most databases)")
      .def_readonly("or_first", &ExplainGroup::or_first,
                    "for a mixed group, read with OR before AND (Scopus)")
      .def_readonly("readings_differ", &ExplainGroup::readings_differ,
                    "whether those readings find different records")
      .def("__repr__", [](const ExplainGroup& g) {
        return "ExplainGroup(start=" + std::to_string(g.start) + ", end=" + std::to_string(g.end) +
               ", items=<" + std::to_string(g.items.size()) + ">)";
      });

  py::class_<UnconvertedGroups>(module, "UnconvertedGroups",
                                "Groups that an unclosed double quote leaves unconverted.")
      .def_readonly("quote", &UnconvertedGroups::quote, "where the quote stands")
      .def_readonly("groups", &UnconvertedGroups::groups,
                    "how many groups: its own and those around it")
      .def_readonly("whole_expression", &UnconvertedGroups::whole_expression,
                    "whether the outermost of them is the whole expression")
      .def("__repr__", [](const UnconvertedGroups& u) {
        return "UnconvertedGroups(quote=" + std::to_string(u.quote) +
               ", groups=" + std::to_string(u.groups) +
               ", whole_expression=" + (u.whole_expression ? "True" : "False") + ")";
      });

  py::class_<PyExplanation>(module, "Explanation",
                            "How the conversion groups an expression; str() draws it as a tree.")
      .def_property_readonly(
          "groups",
          [](PyExplanation& e) {
            if (!e.groups) e.groups = TupleOf(e.tree.groups);
            return e.groups;
          },
          "the groups, innermost first: each after the groups it holds")
      .def_property_readonly(
          "root",
          [](const PyExplanation& e) -> py::object {
            if (!e.tree.converted) return py::none();
            return py::int_(e.tree.root);
          },
          "the index of the group around the whole expression; None when it does not convert")
      .def_property_readonly(
          "converted", [](const PyExplanation& e) { return e.tree.converted; },
          "whether the expression as a whole converts")
      .def_property_readonly(
          "outside", [](const PyExplanation& e) { return TupleOf(e.tree.outside); },
          "indices of converted groups under no other and not under the root")
      .def_property_readonly(
          "unconverted", [](const PyExplanation& e) { return TupleOf(e.tree.unconverted); },
          "the groups each unclosed quote leaves unconverted")
      .def(
          "draw", [](const PyExplanation& e) { return Draw(e); },
          "draw() -> str\n\nThe tree, one item a line, as boolconv-cli --explain draws it.")
      .def("__str__", [](const PyExplanation& e) { return Draw(e); })
      .def("__repr__", [](const PyExplanation& e) {
        return std::string("Explanation(converted=") + (e.tree.converted ? "True" : "False") +
               ", groups=<" + std::to_string(e.tree.groups.size()) + ">)";
      });

  py::class_<HistoryLine>(module, "HistoryLine", "One numbered line of a search history.")
      .def_readonly("number", &HistoryLine::number, "its number, as the history writes it")
      .def_property_readonly(
          "expression", [](const HistoryLine& l) { return StrOf(l.expression); },
          "its search, continuation lines joined by a space")
      .def_readonly("start", &HistoryLine::start, "where its search starts in the text")
      .def_readonly("end", &HistoryLine::end, "where it ends (exclusive)")
      .def("__repr__", [](const HistoryLine& l) {
        return "HistoryLine(number=" + std::to_string(l.number) +
               ", expression=" + py::repr(StrOf(l.expression)).cast<std::string>() + ")";
      });

  py::class_<PyHistory>(module, "History", "A numbered search history, one line combined.")
      .def_property_readonly(
          "lines", [](const PyHistory& h) { return TupleOf(h.history.lines); },
          "its numbered lines, in order")
      .def_property_readonly(
          "line",
          [](const PyHistory& h) -> py::object {
            const History& history = h.history;
            if (history.converted >= history.lines.size()) return py::none();
            return py::int_(history.lines[history.converted].number);
          },
          "the number of the line combined; None when there is none")
      .def_property_readonly(
          "combined", [](const PyHistory& h) { return StrOf(h.history.combined); },
          "the line's expression, each reference replaced by the line it names in "
          "parentheses; empty when it cannot be combined")
      .def_property_readonly(
          "error", [](const PyHistory& h) { return HistoryError(h.history); },
          "why the history cannot be combined (as boolconv-cli --history says), or None")
      .def_property_readonly(
          "findings", [](const PyHistory& h) { return TupleOf(h.history.findings); },
          "what is wrong with the history: missing lines, cycles, unused lines, ...")
      .def("check", &CheckHistory,
           "check() -> list[Diagnostic]\n\nThe findings, and Check's findings on the combined "
           "expression, at their place in the history's text, sorted.")
      .def("explain", &ExplainHistory,
           "explain() -> Explanation\n\nThe combined expression's explanation, its spans in the "
           "history's text.")
      .def("__repr__", [](const PyHistory& h) {
        const History& history = h.history;
        const std::string line = history.converted < history.lines.size()
                                     ? std::to_string(history.lines[history.converted].number)
                                     : "None";
        return "History(line=" + line + ", lines=<" + std::to_string(history.lines.size()) +
               ">, combined=" + py::repr(StrOf(history.combined)).cast<std::string>() + ")";
      });

  module.attr("__version__") = BOOLCONV_VERSION;
  module.def("convert", &Convert, py::arg("expression"),
             R"doc(convert(expression: str | bytes) -> Conversion

Converts a Boolean search expression into its two forms.

`expression` is a str, or bytes in UTF-8. The tokenizer's warnings (an
unclosed quote) are in the result's `warnings`. Raises ConversionError for
a ")" with no "(" before it (code 1001) and for text that is not valid
(code 1002: bytes that are not UTF-8, a str holding a lone surrogate).)doc");
  module.def("check", &CheckExpression, py::arg("expression"),
             R"doc(check(expression: str) -> list[Diagnostic]

Lists what converting `expression` does that its author should know, sorted
by position; `start` and `end` index the str. Raises only for a str holding
a lone surrogate.)doc");
  module.def("tidy", &TidyExpression, py::arg("expression"), py::kw_only(),
             py::arg("capitals") = false,
             R"doc(tidy(expression: str, *, capitals: bool = False) -> Tidied

Cleans text pasted from documents: line breaks, tabs and other spacing
characters become spaces, typographic and single quotes around phrases
become ", "+word" loses its "+" and "term -word" becomes "term NOT word".
With capitals=True, operators are also written in capitals. Returns the
cleaned expression and one Diagnostic per repair.)doc");
  module.def("explain", &ExplainExpression, py::arg("expression"),
             R"doc(explain(expression: str) -> Explanation

How the conversion groups `expression`: its groups, innermost first, and
what the sign form makes of each item. str(result) draws it as a tree.)doc");
  module.def("read_history", &ReadHistoryText, py::arg("text"), py::kw_only(),
             py::arg("line") = py::none(),
             R"doc(read_history(text: str, *, line: int | None = None) -> History

Reads `text` as a numbered search history ("1 asthma", "#2 #1 AND child*",
"S3 S1 OR S2", Ovid's "or/1-2") and combines line `line` (its number; by
default the last line no other line uses) into one expression, `combined`.
When it cannot, `combined` is empty and `error` says why. Problems with the
history are in `findings`; check() adds the findings on the combined
expression, at their place in `text`.)doc");
  module.def(
      "looks_like_history",
      [](py::handle text_object) {
        const Text text = TextOf(text_object);
        return WithoutLock(text, [&] { return LooksLikeHistory(text); });
      },
      py::arg("text"),
      "looks_like_history(text: str) -> bool\n\nWhether `text` looks like a numbered search "
      "history rather than one expression.");

  py::class_<ConvertMany>(module, "Converter", "convert_many's threads and batches.")
      .def(py::init(&MakeConvertMany), py::arg("jobs"), py::arg("errors"),
           py::arg("lines_of_file") = false)
      .def("next_batch", &ConvertMany::Next, py::arg("expressions"),
           "The results of the next batch read from `expressions`, an iterator (or a binary "
           "file, with lines_of_file); None at the end.");
  module.def("_time_engine", &TimeEngine, py::arg("expressions"), py::arg("rounds"),
             "For the benchmark: seconds the engine alone takes on `expressions`.");
}
