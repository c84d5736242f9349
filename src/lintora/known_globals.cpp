// The names a kernel puts into every script's globals (`Excel`, `Context`, ...): the editor
// treats them as defined, with the types of what they are imported from. jedi sees them through
// a one-line prelude of imports put before the buffer; every line sent to or read from jedi is
// moved by that one line, so no position in an answer changes.
#include "lintora/known_globals.hpp"
#include "lintora/common.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

// A dotted name of at least two identifiers: the module, then the attribute it holds.
bool is_import_path(PyObject* path) {
    if (!PyUnicode_Check(path)) return false;
    Ref parts = Ref::steal(PyUnicode_Split(path, N.s_dot, -1));
    const Py_ssize_t n = PyList_GET_SIZE(parts.get());
    if (n < 2) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyUnicode_IsIdentifier(PyList_GET_ITEM(parts.get(), i)) != 1) return false;
    }
    return true;
}

[[noreturn]] void refuse(PyObject* name, PyObject* path) {
    PyErr_Format(PyExc_ValueError,
                 "known global %R must be an identifier mapped to a dotted import path "
                 "(module.attribute), got %R",
                 name, path);
    support::throw_error();
}

// "from a.b import c as Name; ..." for every entry, in the mapping's order.
Ref build_prelude(PyObject* names) {
    Ref statements = new_list();
    PyObject *name = nullptr, *path = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(names, &pos, &name, &path)) {
        // Held across the checks below, which may run no Python code but keep the rule simple.
        Ref held_name = Ref::borrow(name), held_path = Ref::borrow(path);
        if (!PyUnicode_Check(name) || PyUnicode_IsIdentifier(name) != 1 || !is_import_path(path)) {
            refuse(held_name.get(), held_path.get());
        }
        const Py_ssize_t dot = PyUnicode_FindChar(path, '.', 0, PyUnicode_GET_LENGTH(path), -1);
        if (dot < 0) support::throw_error();
        Ref module = Ref::steal(PyUnicode_Substring(path, 0, dot));
        Ref attribute = Ref::steal(PyUnicode_Substring(path, dot + 1, PyUnicode_GET_LENGTH(path)));
        Ref statement = Ref::steal(
            PyUnicode_FromFormat("from %U import %U as %U", module.get(), attribute.get(), name));
        append(statements.get(), statement.get());
    }
    if (PyList_GET_SIZE(statements.get()) == 0) return Ref::borrow(N.s_empty);
    Ref joined = Ref::steal(PyUnicode_Join(N.s_statement_sep, statements.get()));
    return add(joined.get(), N.s_newline);
}

Ref set_known_globals_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    Ref names = Ref::steal(PyDict_Copy(a[1]));
    Ref prelude = build_prelude(names.get());
    // A keyword is an identifier too, and would make the prelude unreadable to jedi.
    if (PyUnicode_GET_LENGTH(prelude.get()) > 0) {
        Ref ast = lookup_global(module, N.g_ast);
        guard(
            {PyExc_SyntaxError}, [&] { return call_method(ast.get(), N.parse, {prelude.get()}); },
            [&](PyObject*) -> Ref {
                support::raise(PyExc_ValueError, "known globals must not be Python keywords");
            });
    }
    set_attr(self, N.a_known_globals, names.get());
    set_attr(self, N.a_known_prelude, prelude.get());
    Ref count = length(names.get());
    lsp_log(module, LogLevel::Info, "[LSP] Known globals set: %d names", {count.get()});
    return support::none();
}

}  // namespace

Ref known_prelude(PyObject* self) {
    Ref prelude = get_attr_optional(self, N.a_known_prelude);
    if (!prelude || !PyUnicode_CheckExact(prelude.get())) return Ref::borrow(N.s_empty);
    return prelude;
}

Ref script_code(PyObject* self, PyObject* code) {
    Ref prelude = known_prelude(self);
    if (PyUnicode_GET_LENGTH(prelude.get()) == 0) return Ref::borrow(code);
    return add(prelude.get(), code);
}

Ref script_line(PyObject* self, PyObject* line) {
    Ref prelude = known_prelude(self);
    if (PyUnicode_GET_LENGTH(prelude.get()) == 0) return Ref::borrow(line);
    Ref one = integer(1);
    return add(line, one.get());
}

bool is_known_global(PyObject* self, PyObject* name) {
    Ref names = get_attr_optional(self, N.a_known_globals);
    if (!names || !PyDict_CheckExact(names.get())) return false;
    return support::check(PyDict_Contains(names.get(), name)) == 1;
}

const support::FunctionDef set_known_globals_def{
    "set_known_globals",
    "Lintora.set_known_globals",
    "Names every script has in its globals without importing them, each mapped to the dotted "
    "path it is imported from (module.attribute); the editor treats them as defined, with that "
    "object's type. An empty mapping forgets them.",
    support::Signature("set_known_globals", {{"self"}, {"names", ArgType::Dict}}),
    set_known_globals_impl,
    {{"names", "Dict[str, str]"}, {"return", "None"}}};

}  // namespace lintora
