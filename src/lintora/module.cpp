// Entry point of the editor language services extension module: the imports, the optional
// analysis libraries, the logger, the constants and the class `Lintora`, in that order.
#include <utility>
#include <vector>

#include "lintora/common.hpp"
#include "lintora/methods.hpp"
#include "support/module_guard.hpp"

namespace lintora {
namespace {

using support::import_module;
using support::set_global;

// Runs the imports of an optional library; only ImportError (ModuleNotFoundError included) means
// "not installed", anything else fails the module's import. Names bound before a failure stay.
template <class Imports>
void probe(PyObject* module, const char* flag, Imports&& imports) {
    const bool available = guard(
        {PyExc_ImportError},
        [&] {
            imports();
            return true;
        },
        [](PyObject*) { return false; });
    set_global(module, flag, available ? Py_True : Py_False);
}

Ref compile(PyObject* re, const char* source) {
    Ref pattern = text(source);
    return call_method(re, N.compile, {pattern.get()});
}

void build(PyObject* module) {
    N.intern_all();

    // `import importlib.util` binds the package `importlib`.
    const std::pair<const char*, const char*> standard[] = {
        {"ast", "ast"}, {"importlib.util", "importlib"},
        {"io", "io"},   {"logging", "logging"},
        {"os", "os"},   {"re", "re"},
        {"sys", "sys"}, {"tempfile", "tempfile"},
    };
    for (const auto& [name, bound_as] : standard) support::bind_import(module, name, bound_as);
    for (const char* name : {"Any", "Dict", "List", "Optional"})
        support::bind_from(module, "typing", name);
    support::bind_import(module, "jedi", "jedi");

    probe(module, "PYFLAKES_AVAILABLE", [&] {
        support::bind_from(module, "pyflakes", "api", "pyflakes_api");
        support::bind_from(module, "pyflakes", "reporter", "pyflakes_reporter");
    });
    probe(module, "PYLSP_AVAILABLE", [&] {
        support::bind_from(module, "pylsp", "uris");
        support::bind_from(module, "pylsp.config.config", "Config");
        support::bind_from(module, "pylsp.workspace", "Workspace");
        support::bind_from(module, "pylsp.workspace", "Document");
    });

    Ref setup =
        support::import_from_relative(module, "logging_config", "setup_logging_subprocess", 2);
    set_global(module, "setup_logging_subprocess", setup.get());
    Ref get_logger = support::import_from_relative(module, "logging_config", "get_logger", 2);
    set_global(module, "get_logger", get_logger.get());
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    Ref logger = call(get_logger.get(), {module_name.get()});
    set_global(module, "logger", logger.get());

    Ref kinds = Ref::steal(PyDict_New());
    const std::pair<const char*, long> kind_table[] = {
        {"function", 1},
        {"class", 5},
        {"module", 7},
        {"property", 8},
        {"instance", kDefaultCompletionKind},
        {"param", kDefaultCompletionKind},
        {"statement", kDefaultCompletionKind},
        {"keyword", 13},
        {"path", 17},
    };
    for (const auto& [jedi_type, kind] : kind_table) {
        Ref value = integer(kind);
        support::check(PyDict_SetItemString(kinds.get(), jedi_type, value.get()));
    }
    set_global(module, "JEDI_TO_MONACO_KIND", kinds.get());
    Ref error = integer(kSeverityError);
    set_global(module, "MONACO_MARKER_SEVERITY_ERROR", error.get());
    Ref warning = integer(kSeverityWarning);
    set_global(module, "MONACO_MARKER_SEVERITY_WARNING", warning.get());

    Ref re = import_module("re");
    Ref pyflakes_pattern = compile(re.get(), R"(^(.+?):(\d+)(?::(\d+))?:\s*(.+)$)");
    set_global(module, "PYFLAKES_MESSAGE_PATTERN", pyflakes_pattern.get());
    Ref alias_pattern = compile(
        re.get(),
        R"(^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$)");
    set_global(module, "IMPORT_ALIAS_PATTERN", alias_pattern.get());

    std::vector<support::Member> members = support::methods(module, {&init_def,
                                                                     &cleanup_def,
                                                                     &set_hover_mode_def,
                                                                     &update_sys_paths_def,
                                                                     &set_workspace_def,
                                                                     &sync_modules_def,
                                                                     &delete_module_def,
                                                                     &is_module_name_def,
                                                                     &get_completions_def,
                                                                     &get_word_prefix_def,
                                                                     &get_hover_def,
                                                                     &format_compact_hover_def,
                                                                     &get_type_description_def,
                                                                     &get_signature_help_def,
                                                                     &format_signature_def,
                                                                     &get_diagnostics_def,
                                                                     &run_pyflakes_def,
                                                                     &parse_pyflakes_message_def,
                                                                     &check_unresolved_imports_def,
                                                                     &can_resolve_import_def,
                                                                     &set_known_globals_def});
    Ref cls = support::make_class(module, "Lintora", nullptr,
                                  "Editor code intelligence over jedi and pyflakes, against a "
                                  "private directory of the user's modules.",
                                  std::move(members));
    set_global(module, "Lintora", cls.get());
}

void forget_names() { N.clear_all(); }

const support::ModuleSpec spec{"lintora", "Editor language services.", build, forget_names};

}  // namespace
}  // namespace lintora

PyMODINIT_FUNC PyInit_lintora() { return support::module_init(lintora::spec); }
