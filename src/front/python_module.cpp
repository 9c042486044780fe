// The CPython extension module `keyhound`: the only file that speaks the
// C API. It binds and checks arguments, runs the command, and turns every
// outcome into a Python result or exception.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <variant>

#include "formats/caret_renderer.hpp"
#include "output/line_writer.hpp"
#include "cli/command_line.hpp"
#include "front/fault_report.hpp"
#include "front/out_of_memory.hpp"
#include "syntax/parse_memory.hpp"
#include "front/process_args.hpp"
#include "run/file_loop.hpp"
#include "cli/run_command.hpp"

namespace {

std::atomic<bool> module_initialized{false};

constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when C++ code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Created on first use and kept for the life of the process.
PyObject* panic_exception_type() {
  static PyObject* type = PyErr_NewExceptionWithDoc(
      "pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
  return type;
}

[[noreturn]] void abort_at_boundary() {
  keyhound::BestEffortDescriptorWriter().write_line(keyhound::Stream::Stderr,
                                                    "uncaught panic at ffi boundary\n");
  std::abort();
}

// Raises the panic exception for a fault that ended a call.
void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) abort_at_boundary();
  PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)),
                                        "replace");
  if (text == nullptr) abort_at_boundary();
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

// Runs a body that may throw, the way every entry point does: a C++
// exception never crosses into the interpreter.
template <class Body>
PyObject* guarded_entry(Body&& body) noexcept {
  try {
    try {
      return body();
    } catch (const std::exception& fault) {
      keyhound::report_internal_fault(fault);
      const char* message = fault.what();
      raise_panic(message != nullptr && message[0] != '\0' ? message : "panic from C++ code");
      return nullptr;
    } catch (...) {
      raise_panic("panic from C++ code");
      return nullptr;
    }
  } catch (...) {
    abort_at_boundary();
  }
}

// Flushes one of Python's own streams (sys.stdout, sys.stderr), whatever
// object it is now; a stream that is missing or fails to flush is passed over.
void flush_python_stream(const char* name) {
  PyObject* stream = PySys_GetObject(name);  // borrowed
  if (stream == nullptr || stream == Py_None) return;
  PyObject* result = PyObject_CallMethod(stream, "flush", nullptr);
  if (result == nullptr) {
    PyErr_Clear();
    return;
  }
  Py_DECREF(result);
}

// Help, version and command-line errors end the whole process. What the
// script printed before the call is still in Python's buffers: write it
// first, so that nothing is lost and the order holds.
[[noreturn]] void end_process(const keyhound::CommandExit& exit) {
  flush_python_stream("stdout");
  flush_python_stream("stderr");
  keyhound::BestEffortDescriptorWriter out;
  for (const std::string& line : exit.lines) out.write_line(exit.stream, line);
  std::exit(exit.status);
}

PyObject* version_py(PyObject*, PyObject*) {
  return guarded_entry([] {
    return PyUnicode_FromStringAndSize(keyhound::kVersion.data(),
                                       static_cast<Py_ssize_t>(keyhound::kVersion.size()));
  });
}

// Binds `_arg` the way a one-parameter Python function would; nullptr with
// a TypeError set when the call does not fit.
PyObject* bind_run_command_arg(PyObject* args, PyObject* kwargs) {
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError,
                 "run_command() takes 1 positional arguments but %zd were given", nargs);
    return nullptr;
  }
  PyObject* value = nargs == 1 ? PyTuple_GetItem(args, 0) : nullptr;  // borrowed
  PyObject* name = nullptr;
  PyObject* given = nullptr;
  Py_ssize_t at = 0;
  // Keyword arguments come in the order of the call.
  while (kwargs != nullptr && PyDict_Next(kwargs, &at, &name, &given)) {
    if (PyUnicode_CompareWithASCIIString(name, "_arg") != 0) {
      PyErr_Format(PyExc_TypeError, "run_command() got an unexpected keyword argument '%U'",
                   name);
      return nullptr;
    }
    if (value != nullptr) {
      PyErr_SetString(PyExc_TypeError,
                      "run_command() got multiple values for argument '_arg'");
      return nullptr;
    }
    value = given;
  }
  if (value == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "run_command() missing 1 required positional argument: '_arg'");
    return nullptr;
  }
  if (!PyUnicode_Check(value)) {
    PyObject* qualname = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)),
                                                "__qualname__");
    if (qualname == nullptr) return nullptr;
    PyErr_Format(PyExc_TypeError,
                 "argument '_arg': '%U' object cannot be converted to 'PyString'", qualname);
    Py_DECREF(qualname);
    return nullptr;
  }
  return value;
}

// Blocks SIGINT and SIGTERM in the calling thread while it lives, unless
// that thread is the process's main thread (whose reads they must interrupt).
class SignalsToMainThread {
 public:
  SignalsToMainThread() {
    if (::getpid() == static_cast<pid_t>(::syscall(SYS_gettid))) return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
  }
  ~SignalsToMainThread() {
    if (blocked_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalsToMainThread(const SignalsToMainThread&) = delete;
  SignalsToMainThread& operator=(const SignalsToMainThread&) = delete;

 private:
  sigset_t previous_;
  bool blocked_ = false;
};

PyObject* run_command(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded_entry([&]() -> PyObject* {
    PyObject* arg = bind_run_command_arg(args, kwargs);
    if (arg == nullptr) return nullptr;
    // The text is not used, but a str that UTF-8 cannot hold is refused.
    PyObject* encoded = PyUnicode_AsUTF8String(arg);
    if (encoded == nullptr) return nullptr;
    Py_DECREF(encoded);

    keyhound::CommandDecision decision =
        keyhound::decide_command(keyhound::module_command(), keyhound::process_arguments());
    if (auto* exit = std::get_if<keyhound::CommandExit>(&decision)) end_process(*exit);
    keyhound::DescriptorWriter out;
    // Reading and analysing go on without the GIL, so that other threads
    // run meanwhile and a read blocked on a FIFO holds only this call. The
    // GIL is taken back only to ask whether a KeyboardInterrupt is pending:
    // between files, and when a blocking read is interrupted by a signal.
    // Called from another thread, this one keeps SIGINT out of its blocked
    // reads, so that the kernel hands it to the main thread, whose Python
    // handler can raise KeyboardInterrupt there at once.
    SignalsToMainThread signals_to_main_thread;
    PyThreadState* released = PyEval_SaveThread();
    keyhound::InterruptCheck interrupted = [&released] {
      PyEval_RestoreThread(released);
      bool pending = PyErr_CheckSignals() != 0;
      released = PyEval_SaveThread();
      return pending;
    };
    keyhound::FileLoopResult result;
    std::exception_ptr fault;
    try {
      result = keyhound::run_file_loop(std::get<keyhound::ParsedArguments>(decision).positionals,
                                       out, keyhound::CaretRenderer(), interrupted);
    } catch (...) {
      fault = std::current_exception();
    }
    PyEval_RestoreThread(released);
    if (fault) std::rethrow_exception(fault);
    if (result.interrupted) return nullptr;
    if (result.any_file_has_issues) {
      PyErr_SetString(PyExc_RuntimeError, "");
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

PyMethodDef kFunctions[] = {
    {"version_py", version_py, METH_NOARGS,
     "version_py()\n--\n\nExample of a Python-callable function named `version_py`.\n"
     "In Python, you'll call it as `keyhound.version_py()`."},
    {"run_command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(run_command)),
     METH_VARARGS | METH_KEYWORDS,
     "run_command(_arg)\n--\n\nA simple function exposed to Python under the name `main`."},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "keyhound",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Builds each function bound to the module, records its name in __all__
// and sets the attribute. False with the exception set on the first failure.
bool add_functions(PyObject* module) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return false;
  bool ok = true;
  for (PyMethodDef& definition : kFunctions) {
    PyObject* function = PyCMethod_New(&definition, module, module_name, nullptr);
    if (function == nullptr) {
      ok = false;
      break;
    }
    PyObject* name = PyObject_GetAttrString(function, "__name__");
    PyObject* all = name == nullptr ? nullptr : PyObject_GetAttrString(module, "__all__");
    if (name != nullptr && all == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      all = PyList_New(0);
      if (all != nullptr && PyObject_SetAttrString(module, "__all__", all) < 0) Py_CLEAR(all);
    }
    ok = all != nullptr && PyList_Check(all) && PyList_Append(all, name) == 0 &&
         PyObject_SetAttr(module, name, function) == 0;
    if (all != nullptr && !PyList_Check(all) && !PyErr_Occurred()) {
      PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
    }
    Py_XDECREF(all);
    Py_XDECREF(name);
    Py_DECREF(function);
    if (!ok) break;
  }
  Py_DECREF(module_name);
  return ok;
}

}  // namespace

PyMODINIT_FUNC PyInit_keyhound(void) {
  // The parser running out of memory cannot be unwound into Python: the
  // process ends with a diagnostic line and status 70.
  keyhound::set_out_of_memory_handler(keyhound::end_for_out_of_memory);
  return guarded_entry([]() -> PyObject* {
    PyObject* module = PyModule_Create2(&kModuleDef, 1013);
    if (module == nullptr) {
      if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
      }
      return nullptr;
    }
    if (module_initialized.exchange(true)) {
      Py_DECREF(module);
      PyErr_SetString(PyExc_ImportError,
                      "PyO3 modules may only be initialized once per interpreter process");
      return nullptr;
    }
    if (!add_functions(module)) {
      Py_DECREF(module);
      return nullptr;
    }
    return module;
  });
}
