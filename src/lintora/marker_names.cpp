// Pyflakes reports a statement's column: an unused import is marked where `import` or `from`
// starts, whatever name it is about. The editor underlines the name itself, found on the line:
// the bound name of an import (the alias of "x as y", the last part of a from-import's dotted
// name), the whole of an undefined or unused name.
#include "lintora/marker_names.hpp"

#include "lintora/common.hpp"

namespace lintora {
namespace {

bool word_char(Py_UCS4 c) { return c == '_' || Py_UNICODE_ISALNUM(c); }

// Index of `name` in `text` at or after `from`, standing as a whole name: not the tail of a
// longer name or of a dotted path, not the head of a longer name. -1 when absent.
Py_ssize_t find_name(PyObject* text, PyObject* name, Py_ssize_t from) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const Py_ssize_t width = PyUnicode_GET_LENGTH(name);
    if (width == 0) return -1;
    while (from >= 0 && from + width <= n) {
        const Py_ssize_t at = PyUnicode_Find(text, name, from, n, 1);
        if (at == -2) support::throw_error();
        if (at < 0) return -1;
        const bool head_ok = at == 0 || (!word_char(PyUnicode_READ_CHAR(text, at - 1)) &&
                                         PyUnicode_READ_CHAR(text, at - 1) != '.');
        const bool tail_ok = at + width == n || !word_char(PyUnicode_READ_CHAR(text, at + width));
        if (head_ok && tail_ok) return at;
        from = at + 1;
    }
    return -1;
}

// Where the imported names of "from a.b import x" begin on `text`, searching from `from`; `from`
// itself for any other statement, so a module path never hides the name.
Py_ssize_t names_start(PyObject* text, Py_ssize_t from) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (PyUnicode_Tailmatch(text, N.s_from, from, n, -1) != 1) return from;
    const Py_ssize_t at = PyUnicode_Find(text, N.s_import_sep, from, n, 1);
    if (at == -2) support::throw_error();
    return at < 0 ? from : at + PyUnicode_GET_LENGTH(N.s_import_sep);
}

// An exact int that fits a Py_ssize_t, read into `out`.
bool read_index(PyObject* o, Py_ssize_t& out) {
    if (!o || !PyLong_CheckExact(o)) return false;
    out = PyLong_AsSsize_t(o);
    if (out == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// The value of `key` in the exact dict `diag`, borrowed; nullptr (no error set) when absent.
PyObject* item(PyObject* diag, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(diag, key);
    if (!found && PyErr_Occurred()) support::throw_error();
    return found;
}

}  // namespace

Ref first_quoted(PyObject* msg) {
    if (!PyUnicode_Check(msg)) return Ref();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(msg);
    const Py_ssize_t open = PyUnicode_FindChar(msg, '\'', 0, n, 1);
    if (open == -2) support::throw_error();
    if (open < 0) return Ref();
    const Py_ssize_t close = PyUnicode_FindChar(msg, '\'', open + 1, n, 1);
    if (close == -2) support::throw_error();
    if (close <= open + 1) return Ref();
    return Ref::steal(PyUnicode_Substring(msg, open + 1, close));
}

void cover_quoted_name(Columns& columns, PyObject* diag) {
    if (!PyDict_CheckExact(diag)) return;
    PyObject* line = item(diag, N.k_start_line);
    PyObject* end_line = item(diag, N.k_end_line);
    PyObject* start = item(diag, N.k_start_column);
    PyObject* message = item(diag, N.k_message);
    Py_ssize_t lineno = 0, start_column = 0;
    if (!read_index(line, lineno) || !read_index(start, start_column) || start_column < 1 ||
        !end_line || !equals(line, end_line) || !message)
        return;
    // Owned: the dict lets go of the old values as the new ones go in.
    Ref held_line = Ref::borrow(line);
    Ref quoted = first_quoted(message);
    if (!quoted) return;
    Ref text = columns.line_text(lineno);
    if (!text) return;

    // "numpy as np": the name bound on the line is the alias.
    const Py_ssize_t alias =
        PyUnicode_Find(quoted.get(), N.s_as_sep, 0, PyUnicode_GET_LENGTH(quoted.get()), -1);
    if (alias == -2) support::throw_error();
    Ref name =
        alias >= 0
            ? Ref::steal(PyUnicode_Substring(quoted.get(), alias + PyUnicode_GET_LENGTH(N.s_as_sep),
                                             PyUnicode_GET_LENGTH(quoted.get())))
            : std::move(quoted);

    Ref start_index = columns.jedi_column(held_line.get(), integer(start_column - 1).get());
    Py_ssize_t from = 0;
    if (!read_index(start_index.get(), from) || from > PyUnicode_GET_LENGTH(text.get())) return;
    from = names_start(text.get(), from);

    Py_ssize_t at = find_name(text.get(), name.get(), from);
    Py_ssize_t width = PyUnicode_GET_LENGTH(name.get());
    if (at < 0) {
        // "pkg.mod.Name" of a from-import stands on the line as "Name".
        const Py_ssize_t dot = PyUnicode_FindChar(name.get(), '.', 0, width, -1);
        if (dot == -2) support::throw_error();
        if (dot < 0) return;
        Ref last = Ref::steal(PyUnicode_Substring(name.get(), dot + 1, width));
        at = find_name(text.get(), last.get(), from);
        width = PyUnicode_GET_LENGTH(last.get());
    }
    if (at < 0) return;
    Ref first = support::ssize_int(at + 1), past = support::ssize_int(at + width + 1);
    Ref new_start = columns.editor_column(held_line.get(), first.get(), PythonUnit::CodePoints);
    Ref new_end = columns.editor_column(held_line.get(), past.get(), PythonUnit::CodePoints);
    set_item(diag, N.k_start_column, new_start.get());
    set_item(diag, N.k_end_column, new_end.get());
}

}  // namespace lintora
