// The temporary module directory: writing and deleting the editor's modules as flat files, and
// telling a bare module name from a file path.
//
// Module names arrive from the editor. A name is only ever used as one file name directly inside
// the directory, so names that could reach elsewhere (separators, absolute paths, NUL, dot-dot)
// are refused for that module; the others are still written.
#include "lintora/common.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

bool contains_char(PyObject* text, Py_UCS4 ch) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const Py_ssize_t at = PyUnicode_FindChar(text, ch, 0, n, 1);
    if (at == -2) support::throw_error();
    return at >= 0;
}

// Raises ValueError when `name` (the module name as text) is not a plain file name.
void refuse_unsafe_name(PyObject* module, PyObject* name) {
    bool unsafe = PyUnicode_GET_LENGTH(name) == 0 || contains_char(name, '/') ||
                  contains_char(name, '\\') || contains_char(name, 0);
    if (!unsafe) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
        unsafe = (n >= 2 && PyUnicode_READ_CHAR(name, 0) == '.' &&
                  PyUnicode_READ_CHAR(name, 1) == '.') ||
                 (n == 1 && PyUnicode_READ_CHAR(name, 0) == '.');
    }
    if (!unsafe) {
        Ref os = lookup_global(module, N.g_os);
        Ref sep = get_attr(os.get(), N.sep);
        Ref os_path = get_attr(os.get(), N.path);
        unsafe = support::str_contains(name, sep.get()) ||
                 truthy(call_method(os_path.get(), N.isabs, {name}).get());
    }
    if (unsafe) {
        PyErr_Format(PyExc_ValueError,
                     "module name %R does not name a file in the module directory", name);
        support::throw_error();
    }
}

void write_file(PyObject* module, PyObject* file_path, PyObject* code) {
    Ref open = lookup_global(module, N.g_open);
    Ref f = call(open.get(), {file_path, N.s_w}, {{N.encoding, N.s_utf8}});
    try {
        call_method(f.get(), N.write, {code});
    } catch (const support::PyErrorSet&) {
        // As a with-block would: close the file, and report the write's error over the close's.
        support::CaughtError err;
        Ref closed = Ref::steal_or_null(PyObject_CallMethodNoArgs(f.get(), N.close));
        PyErr_Clear();
        err.rethrow();
    }
    call_method(f.get(), N.close, {});
}

Ref sync_modules_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* modules = a[1];
    PyObject* dirty_files = a[2];
    Ref merged = Ref::steal(PyDict_Copy(modules));
    if (dirty_files != Py_None && PyDict_GET_SIZE(dirty_files) > 0)
        check(PyDict_Update(merged.get(), dirty_files));

    // `merged` is private to this call, so its entries cannot change under the loop.
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(merged.get(), &pos, &key, &value)) {
        Ref module_name = Ref::borrow(key);
        Ref code = Ref::borrow(value);
        Ref name_text = Ref::steal(PyObject_Format(module_name.get(), nullptr));
        Ref file_path = module_path(module, self, name_text.get());
        guard(
            {PyExc_Exception},
            [&] {
                refuse_unsafe_name(module, name_text.get());
                write_file(module, file_path.get(), code.get());
                lsp_log(module, LogLevel::Debug, "[LSP] Synced module '%s' to %s",
                        {module_name.get(), file_path.get()});
                return 0;
            },
            [&](PyObject* e) {
                lsp_log(module, LogLevel::Warning, "[LSP] Failed to sync module '%s': %s",
                        {module_name.get(), e});
                return 0;
            });
    }
    return support::none();
}

Ref delete_module_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* module_name = a[1];
    Ref file_path = module_path(module, self, module_name);
    guard(
        {PyExc_Exception},
        [&] {
            refuse_unsafe_name(module, module_name);
            Ref os = lookup_global(module, N.g_os);
            Ref os_path = get_attr(os.get(), N.path);
            if (truthy(call_method(os_path.get(), N.exists, {file_path.get()}).get())) {
                call_method(os.get(), N.remove, {file_path.get()});
                lsp_log(module, LogLevel::Debug, "[LSP] Deleted module file '%s'", {module_name});
            }
            return 0;
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Warning, "[LSP] Failed to delete module file '%s': %s",
                    {module_name, e});
            return 0;
        });
    return support::none();
}

Ref is_module_name_impl(PyObject* module, const ArgValues& a) {
    PyObject* path = a[1];
    const Py_ssize_t n = PyUnicode_GET_LENGTH(path);
    if (n == 0) return support::boolean(false);
    Ref os = lookup_global(module, N.g_os);
    Ref os_path = get_attr(os.get(), N.path);
    Ref sep = get_attr(os_path.get(), N.sep);
    if (support::str_contains(path, sep.get()) || contains_char(path, '/') ||
        contains_char(path, '\\')) {
        return support::boolean(false);
    }
    const Py_UCS4 first = PyUnicode_READ_CHAR(path, 0);
    if (first == '<' || first == '.') return support::boolean(false);
    return support::boolean(PyUnicode_IsIdentifier(path) == 1);
}

}  // namespace

const support::FunctionDef sync_modules_def{
    "sync_modules",
    "Lintora.sync_modules",
    "Write each module (saved text, replaced by unsaved editor text) into the module directory.",
    support::Signature(
        "sync_modules",
        {{"self"}, {"modules", ArgType::Dict}, {"dirty_files", ArgType::Dict, Default::None}}),
    sync_modules_impl,
    {{"modules", "Dict[str, str]"},
     {"dirty_files", "Optional[Dict[str, str]]"},
     {"return", "None"}}};

const support::FunctionDef delete_module_def{
    "delete_module",
    "Lintora.delete_module",
    "Remove a module's file from the module directory.",
    support::Signature("delete_module", {{"self"}, {"module_name", ArgType::Str}}),
    delete_module_impl,
    {{"module_name", "str"}, {"return", "None"}}};

const support::FunctionDef is_module_name_def{
    "_is_module_name",
    "Lintora._is_module_name",
    "Whether a request path is a bare module name.",
    support::Signature("_is_module_name", {{"self"}, {"path", ArgType::Str}}),
    is_module_name_impl,
    {{"path", "str"}, {"return", "bool"}}};

Ref module_path(PyObject* module, PyObject* self, PyObject* name) {
    Ref temp_dir = get_attr(self, N.a_temp_dir);
    return module_path_in(module, temp_dir.get(), name);
}

Ref module_path_in(PyObject* module, PyObject* temp_dir, PyObject* name) {
    Ref root = get_attr(temp_dir, N.name);
    Ref file_name = add(name, N.s_py);
    Ref os = lookup_global(module, N.g_os);
    Ref os_path = get_attr(os.get(), N.path);
    return call_method(os_path.get(), N.join, {root.get(), file_name.get()});
}

}  // namespace lintora
