#include "binding/to_text.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/arguments.h"
#include "binding/messages.h"
#include "binding/signal_poll.h"
#include "binding/strs.h"
#include "binding/text.h"
#include "failure.h"
#include "format_limits.h"
#include "support/spare.h"
#include "writer/text_writer.h"

namespace vardelquin {
namespace {

// One list or dict being written. The strong references keep the
// container, and the key whose value it is, alive while the caller's
// Python code may run further down.
struct Frame {
  PyRef container;
  bool is_dict;
  Py_ssize_t start_size;  // dict size, or list length, at the start
  Py_ssize_t remaining;   // entries a dict may still yield
  Py_ssize_t position;    // dict iteration position, or list index
  PyHandle key;           // the entry being written, lent by the dict
  PyRef held_key;         // that key, while its value is a container
};

// The working storage of dumps, kept for the next call on the thread (see
// support/spare.h). The stack goes back emptied, holding no reference: the
// thread's storage may be destroyed at its exit, when the interpreter lock
// is not held.
struct DumpsStorage {
  OutputBuffer text;
  std::vector<Frame> frames;
  TextWriter::Storage writer;

  void give_back() noexcept {
    spare::empty(text, spare::kept_output_bytes);
    spare::empty(frames);
    writer.give_back();
  }
};

// One walk: a loop over an explicit stack of frames, not a recursion, so
// the native stack stays flat however deep the structure is; the depth
// bound is a property of the format, not of the stack. Keys and values
// are handed to the text writer as they are met, in the dict's and the
// list's own order, which is also the order in which str() runs; the
// writer puts nested objects' members in key order. The first failure is
// kept in failure_ and ends the walk.
class Walker {
 public:
  // The text goes to storage.text.
  Walker(const FormatConfig& config, DumpsStorage& storage)
      : writer_(config, storage.text, storage.writer), frames_(storage.frames) {}
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;

  PyResult<Ok> walk(PyHandle top) {
    open(top, true);
    while (!failed()) {
      if (--values_before_poll_ == 0) [[unlikely]] {
        poll_signals();
        continue;  // to the test of failed()
      }
      Frame& frame = frames_.back();
      const PyHandle child = frame.is_dict ? next_value(frame) : next_item(frame);
      if (failed()) break;
      if (child) {
        write_child(child);
        continue;
      }
      if (frames_.size() == 1) break;  // the top-level dict is complete
      close();
    }
    if (failed()) return failure(std::move(*failure_));
    return Ok{};
  }

 private:
  bool failed() const noexcept { return failure_.has_value(); }

  [[gnu::cold]] void fail(PendingException e) { failure_.emplace(std::move(e)); }

  // Between two values, or two pieces of a long str (see signal_poll.h):
  // whatever is being written is held by a strong reference, and a handler
  // may change the containers as str() may.
  [[gnu::cold, gnu::noinline]] void poll_signals() {
    foreign_code_ran_ = true;
    values_before_poll_ = signal_poll_values;
    if (!run_signal_handlers()) fail(fetch_exception());
  }

  void open(PyHandle container, bool is_dict) {
    const Py_ssize_t size = is_dict ? PyDict_Size(container.get()) : PyList_Size(container.get());
    frames_.push_back(Frame{PyRef::borrow(container), is_dict, size, size, 0, PyHandle(), PyRef()});
  }

  // The finished container leaves the stack; its parent lets go of the key
  // it stood under, then of the container.
  void close() {
    writer_.close();
    const PyRef container = std::move(frames_.back().container);
    frames_.pop_back();
    frames_.back().held_key = PyRef();
  }

  // The next dict entry: its key written, its value returned (lent by the
  // dict). Null when the dict is done or on failure.
  PyHandle next_value(Frame& frame) {
    PyObject* dict = frame.container.get();
    // Only the caller's code, run by str(), can change a dict under us, so
    // until str() has run once there is no size to check.
    if (foreign_code_ran_ && PyDict_Size(dict) != frame.start_size) {
      fail(PendingException::internal(message::dict_changed_size));
      return PyHandle();
    }
    if (frame.remaining == -1) {
      fail(PendingException::internal(message::dict_keys_changed));
      return PyHandle();
    }
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (!PyDict_Next(dict, &frame.position, &key, &value)) return PyHandle();
    --frame.remaining;
    frame.key = PyHandle(key);
    if (frame.key.type() != &PyUnicode_Type && !is_str(frame.key)) {
      fail(cast_failure(frame.key, &PyUnicode_Type));
      return PyHandle();
    }
    Py_ssize_t size = 0;
    PyRef made;
    const char* data = lender_.utf8(frame.key, size, made);
    if (data == nullptr) {
      fail(fetch_exception());
      return PyHandle();
    }
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (frames_.size() == 1) {
      writer_.entry(text);
    } else {
      writer_.member(text);
    }
    return PyHandle(value);
  }

  // The next list item that the run of scalars before it (see
  // write_scalars()) does not take, lent by the list, or null at the end.
  // The bound is re-read whenever str() may have run since: str() of an
  // item may shrink the list, and a list that grows is read to its first
  // length only.
  PyHandle next_item(Frame& frame) {
    PyObject* list = frame.container.get();
    Py_ssize_t end = frame.start_size;
    if (foreign_code_ran_) end = std::min(end, PyList_Size(list));
    if (frame.position >= end) return PyHandle();
    frame.key = PyHandle();
    // A dict, the usual item of a list with a frame, needs no run of
    // scalars, nor the cost of starting one.
    const PyHandle next(PyList_GetItem(list, frame.position));
    if (next.type() == &PyDict_Type) {
      ++frame.position;
      return next;
    }
    // The list sits at nesting level frames_.size() - 1.
    frame.position = write_scalars(list, frame.position, end, frames_.size()).position;
    if (frame.position >= end || failed()) return PyHandle();
    return PyHandle(PyList_GetItem(list, frame.position++));
  }

  // Where a run of scalars ended: at the end, on a failure, or at an item
  // the run leaves to write_child(); `at_list` when that item is a list
  // that needs a frame of its own.
  struct RunEnd {
    Py_ssize_t position;
    bool at_list;
  };

  // Writes the list's items from `position` on, up to `end`, while each is
  // a scalar write_scalar() takes or a list of such scalars (a point's
  // coordinates, a row of numbers), written whole at nesting level
  // `items_level`. None of these runs the caller's code, so the list stays
  // as it is, and its bound holds, for the whole loop; the dispatch of
  // write_child() and a turn of the walk loop per item are saved, and a
  // list of such items needs no frame at all.
  RunEnd write_scalars(PyObject* list, Py_ssize_t position, Py_ssize_t end, std::size_t items_level) {
    for (; position < end; ++position) {
      const PyHandle item(PyList_GetItem(list, position));
      const Scalar scalar = write_scalar(item);
      if (scalar == Scalar::written) continue;
      if (scalar == Scalar::written_or_failed) {
        if (failed()) break;
        continue;
      }
      if (item.type() != &PyList_Type) break;
      // A list inside counts as a value of the walk loop, as it would
      // with a frame; the loop itself polls, once this run has ended.
      if (values_before_poll_ == 1 || items_level > max_nesting_depth) break;
      if (!write_list_of_scalars(item)) return RunEnd{position, true};
      --values_before_poll_;
      if (failed()) break;
    }
    return RunEnd{position, false};
  }

  // Writes a list whose items are all scalars write_scalar() takes, and is
  // true; or is false, with nothing written, if one is not. A failure is
  // kept, as ever, and is true.
  bool write_list_of_scalars(PyHandle list) {
    const TextWriter::ListStart start = writer_.begin_list();
    const Py_ssize_t size = PyList_Size(list.get());
    for (Py_ssize_t position = 0; position < size; ++position) {
      const Scalar scalar = write_scalar(PyHandle(PyList_GetItem(list.get(), position)));
      if (scalar == Scalar::written) continue;
      if (scalar == Scalar::other) {
        writer_.drop_list(start);
        return false;
      }
      if (failed()) return true;
    }
    writer_.end_list(start);
    return true;
  }

  // What write_scalar() did with an item.
  enum class Scalar {
    written,
    written_or_failed,  // see failed()
    other,              // nothing written
  };

  // Writes `item` if it is None, a bool, an int, a float or a str of the
  // exact built-in type whose bytes are had at once. None of these runs
  // the caller's code. A str written in pieces is left to write_child():
  // the polls for signals between its pieces run handlers, which may
  // shrink the list, or drop it where it has no frame yet.
  [[gnu::always_inline]] Scalar write_scalar(PyHandle item) {
    PyTypeObject* type = item.type();
    if (type == &PyFloat_Type) {
      // An exact float hands over its value and cannot fail, so the
      // error test of write_float() is not needed.
      writer_.floating(PyFloat_AsDouble(item.get()));
      return Scalar::written;
    }
    if (type == &PyLong_Type) {
      write_integer(item);
      return Scalar::written_or_failed;
    }
    if (type == &PyUnicode_Type)
      return write_string_at_once(item, PyUnicode_GetLength(item.get())) ? Scalar::written_or_failed
                                                                         : Scalar::other;
    if (item.get() == Py_None) {
      writer_.null();
    } else if (type == &PyBool_Type) {
      writer_.boolean(item.get() == Py_True);
    } else {
      return Scalar::other;
    }
    return Scalar::written;
  }

  // A scalar is written at once; a list or dict opens a frame. The type
  // tests run in this order, the first that matches deciding; the exact
  // built-in types come first, which settles nearly every object without
  // asking the interpreter for type flags.
  void write_child(PyHandle object) {
    if (object.get() == Py_None) return writer_.null();
    PyTypeObject* type = object.type();
    if (type == &PyBool_Type) return writer_.boolean(object.get() == Py_True);
    if (type == &PyUnicode_Type) return write_string(object);
    if (type == &PyLong_Type) return write_integer(object);
    if (type == &PyFloat_Type) return write_float(object);
    if (type == &PyList_Type || type == &PyDict_Type) return open_nested(object, type == &PyDict_Type);
    const unsigned long flags = PyType_GetFlags(type);
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return write_integer(object);
    if (PyType_IsSubtype(type, &PyFloat_Type)) return write_float(object);
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return write_string(object);
    if (flags & (Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS)) {
      return open_nested(object, (flags & Py_TPFLAGS_DICT_SUBCLASS) != 0);
    }
    write_str_of(object);
  }

  // Anything else is written as its str(), which runs the caller's code:
  // the value, and the key it stands under, are held until it is written,
  // since that code may take them out of their container.
  void write_str_of(PyHandle object) {
    foreign_code_ran_ = true;
    const PyRef held_value = PyRef::borrow(object);
    const PyRef held_key = PyRef::borrow(frames_.back().key);
    const PyRef text = PyRef::steal(PyObject_Str(object.get()));
    if (!text) return fail(fetch_exception());
    write_string(text.handle());
  }

  void open_nested(PyHandle container, bool is_dict) {
    // A list whose run of scalars stops at a list that needs a frame opens
    // that one next, and so on down, in this loop: write_scalars() would
    // only try to write it whole again.
    for (;;) {
      // The top-level dict is frame 0, so a container opened with n frames
      // below it sits at nesting level n.
      if (frames_.size() > max_nesting_depth) {
        return fail(
            PendingException::lazy(PyHandle(PyExc_RecursionError),
                                   failure_message(Failure{.kind = FailureKind::nesting_too_deep_to_write})));
      }
      if (is_dict) {
        hold_key_of_parent();
        writer_.open_object();
        open(container, true);
        return;
      }
      // A list is written as far as its scalars go before it gets a frame,
      // and one that holds nothing else never does.
      const TextWriter::ListStart start = writer_.begin_list();
      PyObject* list = container.get();
      const Py_ssize_t size = PyList_Size(list);
      const RunEnd stop = write_scalars(list, 0, size, frames_.size() + 1);
      if (failed()) return;
      if (stop.position == size) return writer_.end_list(start);
      writer_.keep_open(start);
      hold_key_of_parent();
      frames_.push_back(
          Frame{PyRef::borrow(container), false, size, size, stop.position, PyHandle(), PyRef()});
      if (!stop.at_list) return;
      Frame& frame = frames_.back();
      container = PyHandle(PyList_GetItem(list, frame.position++));
    }
  }

  void hold_key_of_parent() {
    Frame& parent = frames_.back();
    parent.held_key = PyRef::borrow(parent.key);
  }

  void write_integer(PyHandle object) {
    if constexpr (sizeof(Py_ssize_t) == sizeof(long long)) {
      // An int of two or more of the interpreter's digits, 2^30 and up,
      // costs PyLong_AsLongLong() a conversion to bytes and back, several
      // times the work of PyLong_AsSsize_t(). An int out of range is left
      // to the former, whose exception is the one raised.
      const Py_ssize_t integer = PyLong_AsSsize_t(object.get());
      if (integer != -1 || !PyErr_Occurred()) [[likely]]
        return writer_.integer(integer);
      PyErr_Clear();
    }
    const long long integer = PyLong_AsLongLong(object.get());
    if (integer == -1 && PyErr_Occurred()) return fail(fetch_exception());
    writer_.integer(integer);
  }

  void write_float(PyHandle object) {
    const double number = PyFloat_AsDouble(object.get());
    if (number == -1.0 && PyErr_Occurred()) return fail(fetch_exception());
    writer_.floating(number);
  }

  // The length in characters decides both whether the str lends its
  // bytes and how it is cut into pieces, so it is asked for once.
  void write_string(PyHandle str) {
    const Py_ssize_t length = PyUnicode_GetLength(str.get());
    if (!write_string_at_once(str, length)) write_in_pieces(str, length);
  }

  // The str's strict UTF-8 bytes, had as utf8_view has them, are written
  // at once, so nothing needs to keep them afterwards; false, with nothing
  // written, for a str to be written in pieces.
  [[gnu::always_inline]] bool write_string_at_once(PyHandle str, Py_ssize_t length) {
    if (length > piece_length) [[unlikely]] {
      const bool lends = interpreter_api().unicode_as_utf8_and_size != nullptr && is_ascii_str(str);
      if (!lends) return false;
    }
    Py_ssize_t size = 0;
    PyRef made;
    const char* data = lender_.utf8(str, length, size, made);
    if (data == nullptr) {
      fail(fetch_exception());
      return true;
    }
    writer_.string(std::string_view(data, static_cast<std::size_t>(size)));
    return true;
  }

  // A large str that does not lend its bytes is encoded a piece at a time,
  // each piece escaped straight into the text: a whole copy of its UTF-8
  // would cost as much memory again as the text written. The caller's str
  // gains no UTF-8 copy of its own.
  static constexpr Py_ssize_t piece_length = Py_ssize_t{1} << 16;

  void write_in_pieces(PyHandle str, Py_ssize_t length) {
    static_assert(signal_poll_characters % piece_length == 0, "polls fall between pieces");
    const PyRef held = PyRef::borrow(str);
    for (Py_ssize_t at = 0; at < length; at += piece_length) {
      if (at != 0 && at % static_cast<Py_ssize_t>(signal_poll_characters) == 0) {
        poll_signals();
        if (failed()) return;
      }
      const PyRef piece =
          PyRef::steal(PyUnicode_Substring(str.get(), at, std::min(at + piece_length, length)));
      if (!piece) return fail(fetch_exception());
      const PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(piece.get()));
      if (!bytes) return fail(whole_encoding_failure(str));
      writer_.string_piece(std::string_view(PyBytes_AsString(bytes.get()),
                                            static_cast<std::size_t>(PyBytes_Size(bytes.get()))));
    }
    writer_.end_string();
  }

  // A piece failed to encode (a lone surrogate). The failure reported is
  // the one of encoding the whole str, as for any other str: its start,
  // end and object are the caller's.
  static PendingException whole_encoding_failure(PyHandle str) {
    PyErr_Clear();
    const PyRef whole = PyRef::steal(PyUnicode_AsUTF8String(str.get()));
    if (!whole) return fetch_exception();
    return PendingException::internal(message::str_part_not_encoded);
  }

  TextWriter writer_;
  std::size_t values_before_poll_ = signal_poll_values;
  const Utf8Lender lender_;
  std::vector<Frame>& frames_;
  std::optional<PendingException> failure_;
  bool foreign_code_ran_ = false;
};

}  // namespace

PyResult<PyRef> str_of_dict(PyHandle dict, const FormatConfig& config) {
  const spare::Lease<DumpsStorage> storage;
  if (!storage.ready()) return failure(out_of_memory());
  if (PyResult<Ok> written = Walker(config, *storage).walk(dict); !written) {
    return failure(std::move(written).error());
  }
  return checked_str_from_utf8(storage->text);
}

}  // namespace vardelquin
