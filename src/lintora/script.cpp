// The steps every jedi request shares: checking the position (and counting its column as jedi
// does), syncing the request's modules, choosing the script path and creating the jedi.Script.
#include "lintora/columns.hpp"
#include "lintora/common.hpp"
#include "lintora/known_globals.hpp"

namespace lintora {

Ref cursor_column(PyObject* code, PyObject* line, PyObject* column) {
    if (!PyLong_Check(line) || compare_int(line, 1) < 0) {
        support::raise(PyExc_ValueError, "line must be a positive integer (1-based)");
    }
    if (!PyLong_Check(column) || compare_int(column, 0) < 0) {
        support::raise(PyExc_ValueError, "column must be a non-negative integer (0-based)");
    }
    return Columns(code).jedi_column(line, column);
}

void sync_request_modules(PyObject* self, PyObject* modules, PyObject* dirty_files) {
    const bool have_modules = modules != Py_None && truthy(modules);
    const bool have_dirty = dirty_files != Py_None && truthy(dirty_files);
    if (!have_modules && !have_dirty) return;
    Ref given = have_modules ? Ref::borrow(modules) : Ref::steal(PyDict_New());
    call_method(self, N.m_sync_modules, {given.get(), dirty_files});
}

Ref make_script(PyObject* module, PyObject* self, PyObject* code, PyObject* path) {
    Ref script_path;
    const bool have_path = path != Py_None && truthy(path);
    if (have_path && truthy(call_method(self, N.m_is_module_name, {path}).get())) {
        // jedi sees the buffer as the synced file of that module, so its own imports resolve.
        script_path = module_path(module, self, path);
    } else {
        script_path = Ref::borrow(have_path ? path : N.s_editor);
    }
    Ref jedi = lookup_global(module, N.g_jedi);
    Ref project = get_attr(self, N.a_jedi_project);
    Ref full_code = script_code(self, code);
    return call_method(
        jedi.get(), N.Script, {},
        {{N.code, full_code.get()}, {N.path, script_path.get()}, {N.project, project.get()}});
}

Ref call_at(PyObject* script, PyObject* method, PyObject* line, PyObject* column) {
    return call_method(script, method, {}, {{N.line, line}, {N.column, column}});
}

CursorScript prepare_cursor_script(PyObject* module, const support::ArgValues& a) {
    PyObject* self = a[cursor_arg::self];
    PyObject* code = a[cursor_arg::code];
    Ref column = cursor_column(code, a[cursor_arg::line], a[cursor_arg::column]);
    sync_request_modules(self, a[cursor_arg::modules], a[cursor_arg::dirty_files]);
    Ref script = make_script(module, self, code, a[cursor_arg::path]);
    return {std::move(script), script_line(self, a[cursor_arg::line]), std::move(column)};
}

support::Signature cursor_request_signature(const char* name) {
    using support::ArgType;
    using support::Default;
    static const support::Param params[] = {{"self"},
                                            {"code", ArgType::Str},
                                            {"line", ArgType::Int},
                                            {"column", ArgType::Int},
                                            {"path", ArgType::Str, Default::None},
                                            {"modules", ArgType::Dict, Default::None},
                                            {"dirty_files", ArgType::Dict, Default::None}};
    static_assert(sizeof(params) / sizeof(params[0]) == cursor_arg::count,
                  "cursor_arg names every parameter");
    return support::Signature(name, params);
}

std::vector<support::Annotation> cursor_request_annotations() {
    return {{"code", "str"},
            {"line", "int"},
            {"column", "int"},
            {"path", "Optional[str]"},
            {"modules", "Optional[Dict[str, str]]"},
            {"dirty_files", "Optional[Dict[str, str]]"},
            {"return", "Dict[str, Any]"}};
}

}  // namespace lintora
