// The CPython extension module `keyhound_api`: keyhound for Python code.
// Unlike `keyhound.run_command`, it reads no command line, writes to no
// stream and never ends the process: it takes its options as keyword
// arguments, analyses without the GIL and returns the findings as objects.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "analysis/rule_catalog.hpp"
#include "base/path_names.hpp"
#include "formats/finding_fields.hpp"
#include "front/out_of_memory.hpp"
#include "project/discovery.hpp"
#include "project/exclusion.hpp"
#include "run/lint_input.hpp"
#include "run/report_stage.hpp"
#include "run/settled_settings.hpp"
#include "settings/setting_table.hpp"
#include "syntax/parse_memory.hpp"

namespace {

// Owns one reference.
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const { return object_; }
  PyObject* release() {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  PyObject* object_;
};

// What a call asks for, read from its keyword arguments with the GIL held
// and settled as the command settles its settings (no configuration file
// is read).
using Request = keyhound::SettledSettings;

// What a call found, made without the GIL.
struct Outcome {
  std::vector<keyhound::FileReport> reports;
  std::vector<std::pair<std::string, std::string>> unreadable;
};

bool raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return false;
}

// A name (a path, a glob, an option) may not hold a NUL byte: the system
// calls would stop at it while the names joined to it would not, so that a
// walk of "src\0x" never ends. Only source text may hold one.
enum class NulByte { Refused, Allowed };

std::optional<std::string> text_of(PyObject* object, const char* what,
                                   NulByte nul = NulByte::Refused) {
  if (!PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "%s must be a str", what);
    return std::nullopt;
  }
  Ref bytes(PyUnicode_AsUTF8String(object));
  if (!bytes) return std::nullopt;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::nullopt;
  std::string text(data, static_cast<std::size_t>(size));
  if (nul == NulByte::Refused && text.find('\0') != std::string::npos) {
    PyErr_Format(PyExc_ValueError, "%s must not hold a NUL byte", what);
    return std::nullopt;
  }
  return text;
}

// A path: a str, or an os.PathLike whose path is a str (a pathlib.Path).
std::optional<std::string> path_of(PyObject* object, const char* what,
                                   NulByte nul = NulByte::Refused) {
  if (PyUnicode_Check(object)) return text_of(object, what, nul);
  Ref path(PyOS_FSPath(object));
  if (!path) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s must be a str or os.PathLike", what);
    return std::nullopt;
  }
  if (!PyUnicode_Check(path.get())) {
    PyErr_Format(PyExc_TypeError, "%s must be a str or an os.PathLike of str, not bytes", what);
    return std::nullopt;
  }
  return text_of(path.get(), what, nul);
}

// A list or tuple, each item read by `item` (text_of, path_of); a lone str
// is refused: it would be read as its characters.
using ItemReader = std::optional<std::string> (*)(PyObject*, const char*, NulByte);

std::optional<std::vector<std::string>> list_of(PyObject* object, const char* what,
                                                const char* expected, ItemReader item) {
  if (PyUnicode_Check(object) || !PySequence_Check(object)) {
    PyErr_Format(PyExc_TypeError, "%s must be a list of %s", what, expected);
    return std::nullopt;
  }
  Ref items(PySequence_Tuple(object));
  if (!items) return std::nullopt;
  std::vector<std::string> texts;
  for (Py_ssize_t i = 0; i < PyTuple_Size(items.get()); ++i) {
    auto text = item(PyTuple_GetItem(items.get(), i), what, NulByte::Refused);
    if (!text) return std::nullopt;
    texts.push_back(std::move(*text));
  }
  return texts;
}

std::optional<std::vector<std::string>> texts_of(PyObject* object, const char* what) {
  return list_of(object, what, "str", text_of);
}

// A keyword's value, read by its setting's kind; nothing with the Python
// error set.
std::optional<keyhound::SettingValue> typed_value(const keyhound::Setting& setting,
                                                  const std::string& keyword, PyObject* value) {
  using keyhound::SettingKind;
  auto type_error = [&]() -> std::optional<keyhound::SettingValue> {
    PyErr_SetString(PyExc_TypeError,
                    keyhound::must_be_message(setting, keyhound::ValueLanguage::Python, "").c_str());
    return std::nullopt;
  };
  switch (setting.kind) {
    case SettingKind::Flag:
      if (!PyBool_Check(value)) return type_error();
      return value == Py_True;
    case SettingKind::Count: {
      if (!PyLong_Check(value) || PyBool_Check(value)) return type_error();
      unsigned long long count = PyLong_AsUnsignedLongLong(value);
      if (PyErr_Occurred()) {
        PyErr_Clear();
        count = 0;
      }
      return static_cast<std::uint64_t>(count);
    }
    case SettingKind::Text:
    case SettingKind::Choice: {
      if (!PyUnicode_Check(value)) return type_error();
      auto text = text_of(value, keyword.c_str());
      if (!text) return std::nullopt;
      return *text;
    }
    case SettingKind::Texts:
    case SettingKind::Codes: {
      auto texts = texts_of(value, keyword.c_str());
      if (!texts) return std::nullopt;
      return *texts;
    }
    case SettingKind::GlobCodes: {
      if (!PyDict_Check(value)) return type_error();
      keyhound::GlobCodes table;
      PyObject* glob = nullptr;
      PyObject* codes = nullptr;
      Py_ssize_t at = 0;
      while (PyDict_Next(value, &at, &glob, &codes)) {
        auto pattern = text_of(glob, ("a " + keyword + " glob").c_str());
        if (!pattern) return std::nullopt;
        auto listed = texts_of(codes, keyword.c_str());
        if (!listed) return std::nullopt;
        table.emplace_back(std::move(*pattern), std::move(*listed));
      }
      return table;
    }
  }
  return type_error();
}

std::string keyword_list() {
  std::vector<std::string> keys = keyhound::setting_keys(keyhound::kFromApi);
  std::string listed;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0) listed += i + 1 == keys.size() ? " or " : ", ";
    listed += keys[i];
  }
  return listed;
}

// One option: a setting the API takes, by its key with '_' for '-'.
bool read_option(const std::string& name, PyObject* value, keyhound::SettingLayers& layers,
                 const std::string& directory) {
  const keyhound::Setting* setting = keyhound::setting_named(name, keyhound::kFromApi);
  if (setting == nullptr) {
    // As Python itself answers a keyword a function does not take.
    PyErr_Format(PyExc_TypeError, "got an unexpected keyword argument '%s' (expected %s)",
                 name.c_str(), keyword_list().c_str());
    return false;
  }
  auto read = typed_value(*setting, name, value);
  if (!read) return false;
  if (!keyhound::in_range(*setting, *read)) {
    return raise_value_error(
        keyhound::must_be_message(*setting, keyhound::ValueLanguage::Python, ""));
  }
  if (auto problem = keyhound::selector_problem_in(*setting, *read)) {
    return raise_value_error(name + " holds '" + problem->selector + "', but " + problem->reason);
  }
  layers.give(setting->id, std::move(*read), keyhound::SettingOrigin::Call, directory,
              "the call");
  return true;
}

bool read_options(PyObject* kwargs, Request& request) {
  const std::string directory = keyhound::current_directory();
  keyhound::SettingLayers layers;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t at = 0;
  while (kwargs != nullptr && PyDict_Next(kwargs, &at, &key, &value)) {
    auto name = text_of(key, "an option name");
    if (!name || !read_option(*name, value, layers, directory)) return false;
  }
  auto settled = keyhound::settle_settings(layers, directory, directory);
  if (!settled) return raise_value_error(settled.error());
  request = std::move(*settled);
  return true;
}

keyhound::DiscoveryOptions discovery_of(const Request& request, const std::string& directory) {
  keyhound::DiscoveryOptions discovery;
  discovery.working_directory = directory;
  discovery.exclusions = request.exclusions;
  discovery.respect_gitignore = request.respect_gitignore;
  discovery.force_exclude = request.force_exclude;
  discovery.notebooks = request.precise;
  return discovery;
}

// Reports go through the same selection as the command's; a report that
// could not be read is kept apart.
void keep(keyhound::FileReport report, const keyhound::ReportStage& stage,
          Outcome& outcome) {
  if (report.outcome.status == keyhound::FileStatus::ReadError) {
    outcome.unreadable.emplace_back(report.path, report.outcome.message);
    return;
  }
  stage.process(report);
  outcome.reports.push_back(std::move(report));
}

Outcome check_paths_without_gil(const std::vector<std::string>& paths, const Request& request) {
  const std::string directory = keyhound::current_directory();
  keyhound::ReportStage stage({request.selection}, std::nullopt, std::nullopt,
                              directory);
  const keyhound::AnalysisOptions analysis = request.analysis();
  Outcome outcome;
  std::vector<std::string> skipped;
  for (const keyhound::LintInput& input :
       keyhound::discover_inputs(paths, discovery_of(request, directory), &skipped)) {
    if (input.is_stdin) {
      outcome.unreadable.emplace_back(input.display, "standard input is not read by check_paths");
      continue;
    }
    auto report = keyhound::lint_input(input, analysis);
    if (report) keep(std::move(*report), stage, outcome);
  }
  return outcome;
}

Outcome check_source_without_gil(const std::string& text, const std::string& filename,
                                 const Request& request) {
  const std::string directory = keyhound::current_directory();
  keyhound::ReportStage stage({request.selection}, std::nullopt, std::nullopt,
                              directory);
  Outcome outcome;
  keep(keyhound::analyze_file(filename, text, request.analysis()), stage, outcome);
  return outcome;
}

// The two immutable record types, made once per process.
PyTypeObject* finding_type = nullptr;
PyTypeObject* report_type = nullptr;

PyStructSequence_Field kFindingFields[] = {
    {"code", "The rule code: KH001, KH002, KH003 or KH100"},
    {"message", "The message, as the command's report gives it"},
    {"filename", "The file, as it was named"},
    {"row", "The 1-based line where the node starts"},
    {"column", "The 1-based column (in code points) where it starts"},
    {"end_row", "The line where it ends"},
    {"end_column", "The column after its last character"},
    {"function", "The function that holds it, or '<module>'"},
    {"callee", "For KH002, the function called; else None"},
    {"origin", "For KH002, (filename, row, column) of the lookup the KeyError comes from"},
    {"source_text", "The node's text on one line, cut at 60 characters"},
    {"confidence", "Precise mode: 'high', 'medium' or 'low' for KH001 and KH002; else None"},
    {"reason", "Precise mode: why, as a short phrase; else None"},
    {"cell", "In a notebook, the cell that holds it (1-based; its rows are the cell's); else None"},
    {nullptr, nullptr},
};

PyStructSequence_Desc kFindingDesc = {"keyhound_api.Finding", "A finding of keyhound.",
                                      kFindingFields, 14};

PyStructSequence_Field kReportFields[] = {
    {"findings", "The findings, a tuple of Finding in file order"},
    {"unreadable", "The files that could not be read: a tuple of (filename, reason)"},
    {nullptr, nullptr},
};

PyStructSequence_Desc kReportDesc = {"keyhound_api.Report", "What a check found.",
                                     kReportFields, 2};

PyObject* py_text(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* py_number(uint64_t number) { return PyLong_FromUnsignedLongLong(number); }

// Fills a fresh struct sequence, whose slots take the references.
PyObject* record(PyTypeObject* type, std::initializer_list<PyObject*> values) {
  PyObject* made = PyStructSequence_New(type);
  Py_ssize_t slot = 0;
  bool failed = made == nullptr;
  for (PyObject* value : values) {
    if (value == nullptr || failed) {
      failed = true;
      Py_XDECREF(value);
      continue;
    }
    PyStructSequence_SetItem(made, slot++, value);
  }
  if (failed) {
    Py_XDECREF(made);
    return nullptr;
  }
  return made;
}

PyObject* none() {
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* finding_object(const keyhound::FileReport& report,
                         const keyhound::FindingFields& finding) {
  PyObject* origin = nullptr;
  if (finding.call != nullptr && finding.call->origin) {
    const keyhound::Position& at = finding.call->origin->position;
    origin = Py_BuildValue("(NKK)", py_text(report.path),
                           static_cast<unsigned long long>(uint64_t{at.row} + 1),
                           static_cast<unsigned long long>(uint64_t{at.code_point_column} + 1));
  } else {
    origin = none();
  }
  return record(finding_type,
                {py_text(finding.code), py_text(finding.message), py_text(report.path),
                 py_number(finding.line()), py_number(finding.column()),
                 py_number(finding.end_line()), py_number(finding.end_column()),
                 py_text(finding.function),
                 finding.call != nullptr ? py_text(finding.call->callee) : none(), origin,
                 py_text(finding.display_text),
                 finding.risk ? py_text(keyhound::confidence_name(finding.risk->confidence))
                              : none(),
                 finding.risk ? py_text(finding.risk->reason) : none(),
                 finding.cell() != 0 ? py_number(finding.cell()) : none()});
}

PyObject* report_object(const Outcome& outcome) {
  Ref findings(PyList_New(0));
  if (!findings) return nullptr;
  for (const keyhound::FileReport& report : outcome.reports) {
    for (const keyhound::FindingFields& finding : keyhound::finding_fields(report, keyhound::presentation_of(report.precise))) {
      Ref item(finding_object(report, finding));
      if (!item || PyList_Append(findings.get(), item.get()) < 0) return nullptr;
    }
  }
  Ref unreadable(PyList_New(0));
  if (!unreadable) return nullptr;
  for (const auto& [path, reason] : outcome.unreadable) {
    Ref item(Py_BuildValue("(NN)", py_text(path), py_text(reason)));
    if (!item || PyList_Append(unreadable.get(), item.get()) < 0) return nullptr;
  }
  return record(report_type, {PyList_AsTuple(findings.get()), PyList_AsTuple(unreadable.get())});
}

// Runs `work` without the GIL; a fault becomes a Python exception.
template <class Work>
PyObject* check_without_gil(Work work) {
  Outcome outcome;
  std::exception_ptr fault;
  PyThreadState* released = PyEval_SaveThread();
  try {
    outcome = work();
  } catch (...) {
    fault = std::current_exception();
  }
  PyEval_RestoreThread(released);
  if (fault) {
    try {
      std::rethrow_exception(fault);
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    } catch (const std::exception& error) {
      PyErr_Format(PyExc_RuntimeError, "keyhound internal error: %s", error.what());
      return nullptr;
    }
  }
  return report_object(outcome);
}

PyObject* check_paths(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* paths_argument = nullptr;
  if (!PyArg_ParseTuple(args, "O:check_paths", &paths_argument)) return nullptr;
  auto paths = list_of(paths_argument, "paths", "str or os.PathLike", path_of);
  Request request;
  if (!paths || !read_options(kwargs, request)) return nullptr;
  return check_without_gil([&] { return check_paths_without_gil(*paths, request); });
}

PyObject* check_source(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* text_argument = nullptr;
  PyObject* filename_argument = nullptr;
  if (!PyArg_ParseTuple(args, "O|O:check_source", &text_argument, &filename_argument)) {
    return nullptr;
  }
  // `filename` may come by keyword too; the rest are options.
  Ref options(kwargs != nullptr ? PyDict_Copy(kwargs) : PyDict_New());
  if (!options) return nullptr;
  if (PyObject* named = PyDict_GetItemString(options.get(), "filename")) {
    if (filename_argument != nullptr) {
      PyErr_SetString(PyExc_TypeError, "check_source() got 'filename' twice");
      return nullptr;
    }
    filename_argument = named;
    Py_INCREF(filename_argument);
    PyDict_DelItemString(options.get(), "filename");
  } else if (filename_argument != nullptr) {
    Py_INCREF(filename_argument);
  }
  Ref filename_owner(filename_argument);
  auto text = text_of(text_argument, "text", NulByte::Allowed);
  if (!text) return nullptr;
  std::optional<std::string> filename = std::string("<string>");
  if (filename_argument != nullptr) filename = path_of(filename_argument, "filename");
  Request request;
  if (!filename || !read_options(options.get(), request)) return nullptr;
  return check_without_gil([&] { return check_source_without_gil(*text, *filename, request); });
}

PyMethodDef kFunctions[] = {
    {"check_paths", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_paths)),
     METH_VARARGS | METH_KEYWORDS,
     nullptr},  // its text is made from the table of settings, below
    {"check_source", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_source)),
     METH_VARARGS | METH_KEYWORDS,
     "check_source(text, filename='<string>', **options)\n--\n\n"
     "Check Python source text; returns a Report. Options as for check_paths."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT, "keyhound_api",
    "keyhound for Python code: check_paths() and check_source() return the findings as objects.",
    -1, kFunctions, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_keyhound_api(void) {
  // The parser running out of memory cannot be unwound into Python.
  keyhound::set_out_of_memory_handler(keyhound::end_for_out_of_memory);
  if (finding_type == nullptr) finding_type = PyStructSequence_NewType(&kFindingDesc);
  if (report_type == nullptr) report_type = PyStructSequence_NewType(&kReportDesc);
  if (finding_type == nullptr || report_type == nullptr) return nullptr;
  static const std::string check_paths_doc =
      "check_paths(paths, **options)\n--\n\n"
      "Check Python files and directories; returns a Report.\n\n"
      "Options are named like the configuration keys, '_' for '-': " +
      keyword_list() +
      ". No configuration file is read. A bad option value raises ValueError, an unknown option "
      "or a value of the wrong type TypeError. SETTINGS lists the options.";
  kFunctions[0].ml_doc = check_paths_doc.c_str();
  Ref module(PyModule_Create(&kModuleDef));
  if (!module) return nullptr;
  // The option names the functions take, for callers that build them.
  const std::vector<std::string> keys = keyhound::setting_keys(keyhound::kFromApi);
  Ref settings(PyTuple_New(static_cast<Py_ssize_t>(keys.size())));
  if (!settings) return nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    PyObject* name = py_text(keys[i]);
    if (name == nullptr) return nullptr;
    PyTuple_SetItem(settings.get(), static_cast<Py_ssize_t>(i), name);
  }
  if (PyModule_AddObject(module.get(), "SETTINGS", settings.get()) < 0) return nullptr;
  settings.release();
  Py_INCREF(finding_type);
  if (PyModule_AddObject(module.get(), "Finding", reinterpret_cast<PyObject*>(finding_type)) < 0) {
    Py_DECREF(finding_type);
    return nullptr;
  }
  Py_INCREF(report_type);
  if (PyModule_AddObject(module.get(), "Report", reinterpret_cast<PyObject*>(report_type)) < 0) {
    Py_DECREF(report_type);
    return nullptr;
  }
  return module.release();
}
