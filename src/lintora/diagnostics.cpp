// Diagnostics: syntax errors from Python's parser, pyflakes' warnings and the unresolved-import
// check, as Monaco markers sorted by severity.
#include <algorithm>
#include <vector>

#include "lintora/columns.hpp"
#include "lintora/common.hpp"
#include "lintora/known_globals.hpp"
#include "lintora/lent_tree.hpp"
#include "lintora/marker_names.hpp"
#include "lintora/member_check.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

Ref diagnostics_result(PyObject* diagnostics, PyObject* error) {
    return make_dict({{N.k_diagnostics, diagnostics}, {N.k_error, error}});
}

Ref marker(PyObject* line, PyObject* start, PyObject* end, PyObject* message, PyObject* severity) {
    return make_dict({{N.k_start_line, line},
                      {N.k_start_column, start},
                      {N.k_end_line, line},
                      {N.k_end_column, end},
                      {N.k_message, message},
                      {N.k_severity, severity}});
}

// `e.<name> or fallback`
Ref attr_or(PyObject* e, PyObject* name, PyObject* fallback) {
    return either(get_attr(e, name), fallback);
}

Ref syntax_error_marker(PyObject* module, PyObject* code, PyObject* e) {
    Ref one = integer(1);
    Ref lineno = attr_or(e, N.lineno, one.get());
    Ref python_offset = attr_or(e, N.offset, one.get());
    Ref offset =
        Columns(code).editor_column(lineno.get(), python_offset.get(), PythonUnit::CodePoints);
    Ref msg = attr_or(e, N.msg, N.s_syntax_error);
    Ref end = add(offset.get(), one.get());
    Ref severity = lookup_global(module, N.g_severity_error);
    Ref diag = marker(lineno.get(), offset.get(), end.get(), msg.get(), severity.get());
    lsp_log(module, LogLevel::Debug, "[LSP] Syntax error at line %d, col %d: %s",
            {lineno.get(), offset.get(), msg.get()});
    return diag;
}

// The common case: every key an exact int that fits a C long. C++ sorts the plain numbers, which
// gives the same stable, descending order as Python's sort and calls no Python code. Returns
// false (leaving `order` as it was) when some key is anything else.
bool sort_small_ints(const std::vector<Ref>& keys, std::vector<Py_ssize_t>& order) {
    std::vector<long> values;
    values.reserve(keys.size());
    for (const Ref& key : keys) {
        if (!PyLong_CheckExact(key.get())) return false;
        int overflow = 0;
        values.push_back(PyLong_AsLongAndOverflow(key.get(), &overflow));
        if (overflow) return false;
    }
    std::stable_sort(order.begin(), order.end(), [&](Py_ssize_t x, Py_ssize_t y) {
        return values[static_cast<std::size_t>(y)] < values[static_cast<std::size_t>(x)];
    });
    return true;
}

// Any other keys are ordered by Python's own list sort: a user-defined `__lt__` need not be a
// strict weak order, which a C++ sort algorithm requires (its behaviour is undefined otherwise),
// while Python's sort then merely gives some order. Sorting the indices with
// `key=keys.__getitem__, reverse=True` is exactly the stable, descending sort of the markers; a
// failed comparison propagates and leaves the markers untouched.
void sort_any_keys(const std::vector<Ref>& keys, std::vector<Py_ssize_t>& order) {
    const Py_ssize_t n = static_cast<Py_ssize_t>(keys.size());
    Ref key_list = Ref::steal(PyList_New(n));
    Ref index_list = Ref::steal(PyList_New(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyList_SET_ITEM(key_list.get(), i, keys[static_cast<std::size_t>(i)].dup().release());
        PyList_SET_ITEM(index_list.get(), i, integer(static_cast<long>(i)).release());
    }
    Ref key_of = get_attr(key_list.get(), N.dunder_getitem);
    Ref sorted =
        call_method(index_list.get(), N.sort, {}, {{N.key, key_of.get()}, {N.reverse, Py_True}});
    for (Py_ssize_t i = 0; i < n; ++i) {
        order[static_cast<std::size_t>(i)] =
            support::as_ssize(PyList_GET_ITEM(index_list.get(), i));
    }
}

// `diagnostics.sort(key=lambda d: d.get("severity", 0), reverse=True)`: stable, so markers of
// equal severity keep the order in which they were gathered.
void sort_by_severity(PyObject* diagnostics) {
    const Py_ssize_t n = PyList_GET_SIZE(diagnostics);
    if (n < 2) return;
    std::vector<Ref> keys;
    keys.reserve(static_cast<std::size_t>(n));
    Ref zero = integer(0);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref d = Ref::steal(PyList_GetItemRef(diagnostics, i));
        Ref key;
        if (PyDict_Check(d.get())) {
            PyObject* found = nullptr;
            key = support::check(PyDict_GetItemRef(d.get(), N.k_severity, &found))
                      ? Ref::steal(found)
                      : zero.dup();
        } else {
            key = call_method(d.get(), N.get, {N.k_severity, zero.get()});
        }
        keys.push_back(std::move(key));
    }
    if (PyList_GET_SIZE(diagnostics) != n)
        support::raise(PyExc_ValueError, "list modified during sort");

    std::vector<Py_ssize_t> order(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    if (!sort_small_ints(keys, order)) sort_any_keys(keys, order);

    std::vector<Ref> items;
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i)
        items.push_back(Ref::steal(PyList_GetItemRef(diagnostics, i)));
    for (Py_ssize_t i = 0; i < n; ++i) {
        support::check(PyList_SetItem(
            diagnostics, i,
            items[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])].dup().release()));
    }
}

Ref diagnostics_body(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* code = a[1];
    PyObject* module_name = a[2];
    Ref diagnostics = new_list();
    Ref filename = module_name != Py_None && truthy(module_name)
                       ? Ref::steal(PyUnicode_FromFormat("<%U>", module_name))
                       : Ref::borrow(N.s_editor);

    Ref ast = lookup_global(module, N.g_ast);
    Ref tree;
    bool stdlib_tree = false;
    const bool syntax_ok = guard(
        {PyExc_SyntaxError},
        [&] {
            Ref parse = get_attr(ast.get(), N.parse);
            tree = call(parse.get(), {code}, {{N.filename, filename.get()}});
            stdlib_tree = is_stdlib_parse(parse.get());
            return true;
        },
        [&](PyObject* e) {
            Ref diag = syntax_error_marker(module, code, e);
            append(diagnostics.get(), diag.get());
            return false;
        });

    if (syntax_ok) {
        Ref pyflakes_available = lookup_global(module, N.g_pyflakes_available);
        if (truthy(pyflakes_available.get())) {
            Ref found = call_method(self, N.m_run_pyflakes, {code, filename.get()});
            support::extend(diagnostics.get(), found.get());
        }
        // The import check walks the same tree; given this very code object it need not parse
        // again.
        LendTree lend(code, stdlib_tree ? tree.get() : nullptr);
        Ref imports = call_method(self, N.m_check_unresolved_imports, {code, module_name});
        support::extend(diagnostics.get(), imports.get());
        Ref members = excel_member_markers(module, self, code, tree.get(), module_name);
        support::extend(diagnostics.get(), members.get());
    }
    sort_by_severity(diagnostics.get());
    return diagnostics_result(diagnostics.get(), Py_None);
}

Ref get_diagnostics_impl(PyObject* module, const ArgValues& a) {
    if (Ref logger = logger_if_enabled(module, LogLevel::Debug)) {
        Ref code_length = length(a[1]);
        support::log_unchecked(logger.get(), LogLevel::Debug,
                               "[LSP] Request: get_diagnostics, code_length=%d",
                               {code_length.get()});
    }
    return request_guard(
        module, "[LSP] Error in get_diagnostics: %s", [&] { return diagnostics_body(module, a); },
        [](PyObject* message) {
            Ref empty = new_list();
            return diagnostics_result(empty.get(), message);
        });
}

// Moves a pyflakes marker from pyflakes' byte column to the editor's column on its line; the width
// (already in the editor's units) stays. A marker of another shape is left as it is.
void to_editor_columns(Columns& columns, PyObject* diag) {
    if (!PyDict_CheckExact(diag)) return;
    PyObject* line = PyDict_GetItemWithError(diag, N.k_start_line);
    PyObject* start = line ? PyDict_GetItemWithError(diag, N.k_start_column) : nullptr;
    PyObject* end = start ? PyDict_GetItemWithError(diag, N.k_end_column) : nullptr;
    if (!end) {
        if (PyErr_Occurred()) support::throw_error();
        return;
    }
    if (!PyLong_CheckExact(end)) return;
    // Owned copies: the dict lets go of the old values as the new ones go in.
    Ref old_start = Ref::borrow(start), old_end = Ref::borrow(end);
    Ref new_start = columns.editor_column(line, old_start.get(), PythonUnit::Utf8Bytes);
    if (new_start.get() == old_start.get()) return;
    Ref width = Ref::steal(PyNumber_Subtract(old_end.get(), old_start.get()));
    Ref new_end = add(new_start.get(), width.get());
    set_item(diag, N.k_start_column, new_start.get());
    set_item(diag, N.k_end_column, new_end.get());
}

// "undefined name 'Context'" for a name the kernel puts into every script's globals.
bool about_known_global(PyObject* self, PyObject* diag) {
    if (!PyDict_CheckExact(diag)) return false;
    PyObject* message = PyDict_GetItemWithError(diag, N.k_message);
    if (!message) {
        if (PyErr_Occurred()) support::throw_error();
        return false;
    }
    Ref held = Ref::borrow(message);
    if (!PyUnicode_Check(message) ||
        PyUnicode_Tailmatch(message, N.s_undefined_name, 0, PY_SSIZE_T_MAX, -1) != 1)
        return false;
    Ref name = first_quoted(message);
    return name && is_known_global(self, name.get());
}

// Every line pyflakes wrote to `stream` that parses as a message becomes a marker of `severity`,
// on the name the message is about.
void collect(PyObject* self, Columns& columns, PyObject* stream, PyObject* severity,
             PyObject* diagnostics) {
    Ref zero = integer(0);
    call_method(stream, N.seek, {zero.get()});
    for (Ref& line : iterate(stream)) {
        Ref stripped = call_method(line.get(), N.strip, {});
        Ref diag = call_method(self, N.m_parse_pyflakes_message, {stripped.get(), severity});
        if (diag.get() == Py_None) continue;
        to_editor_columns(columns, diag.get());
        if (about_known_global(self, diag.get())) continue;
        cover_quoted_name(columns, diag.get());
        append(diagnostics, diag.get());
    }
}

Ref run_pyflakes_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* code = a[1];
    PyObject* filename = a[2];
    Ref diagnostics = new_list();
    guard(
        {PyExc_Exception},
        [&] {
            Ref io = lookup_global(module, N.g_io);
            Ref warning_stream = call_method(io.get(), N.StringIO, {});
            Ref error_stream = call_method(io.get(), N.StringIO, {});
            Ref reporter_module = lookup_global(module, N.g_pyflakes_reporter);
            Ref reporter = call_method(reporter_module.get(), N.Reporter,
                                       {warning_stream.get(), error_stream.get()});
            Ref api = lookup_global(module, N.g_pyflakes_api);
            call_method(api.get(), N.check, {code, filename, reporter.get()});
            Columns columns(code);
            Ref warning = lookup_global(module, N.g_severity_warning);
            collect(self, columns, warning_stream.get(), warning.get(), diagnostics.get());
            Ref error = lookup_global(module, N.g_severity_error);
            collect(self, columns, error_stream.get(), error.get(), diagnostics.get());
            Ref count = length(diagnostics.get());
            lsp_log(module, LogLevel::Debug, "[LSP] Pyflakes returned %d diagnostics",
                    {count.get()});
            return 0;
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Warning, "[LSP] Pyflakes check failed: %s", {e});
            return 0;
        });
    return diagnostics;
}

// Length of the name in single quotes that starts `msg` (what `^'([^']+)'` captures), or 0. It is
// counted in UTF-16 units, as the editor counts the columns the marker spans.
Py_ssize_t quoted_name_length(PyObject* msg) {
    if (!PyUnicode_Check(msg)) return 0;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(msg);
    if (n < 3 || PyUnicode_READ_CHAR(msg, 0) != '\'') return 0;
    const Py_ssize_t close = PyUnicode_FindChar(msg, '\'', 1, n, 1);
    if (close == -2) support::throw_error();
    if (close <= 1) return 0;
    Py_ssize_t units = close - 1;
    if (PyUnicode_KIND(msg) == PyUnicode_4BYTE_KIND) {
        for (Py_ssize_t i = 1; i < close; ++i)
            units += PyUnicode_READ_CHAR(msg, i) >= 0x10000 ? 1 : 0;
    }
    return units;
}

Ref parse_pyflakes_message_impl(PyObject* module, const ArgValues& a) {
    PyObject* message = a[1];
    PyObject* severity = a[2];
    if (PyUnicode_GET_LENGTH(message) == 0) return support::none();
    return guard(
        {PyExc_Exception},
        [&] {
            Ref pattern = lookup_global(module, N.g_pyflakes_pattern);
            Ref match = call_method(pattern.get(), N.match, {message});
            if (match.get() == Py_None) return support::none();
            Ref two = integer(2), three = integer(3), four = integer(4);
            Ref line_text = call_method(match.get(), N.group, {two.get()});
            Ref lineno = Ref::steal(PyNumber_Long(line_text.get()));
            Ref column_text = call_method(match.get(), N.group, {three.get()});
            Ref colno = column_text.get() != Py_None && truthy(column_text.get())
                            ? Ref::steal(PyNumber_Long(column_text.get()))
                            : integer(1);
            Ref msg = call_method(match.get(), N.group, {four.get()});
            // The marker is as wide as a quoted name at the start of the message, else one
            // character.
            const Py_ssize_t width = quoted_name_length(msg.get());
            Ref width_obj = Ref::steal(PyLong_FromSsize_t(width ? width : 1));
            Ref end = add(colno.get(), width_obj.get());
            return marker(lineno.get(), colno.get(), end.get(), msg.get(), severity);
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Debug, "[LSP] Failed to parse pyflakes message '%s': %s",
                    {message, e});
            return support::none();
        });
}

}  // namespace

const support::FunctionDef get_diagnostics_def{
    "get_diagnostics",
    "Lintora.get_diagnostics",
    "Syntax errors, pyflakes warnings and unresolved imports as Monaco markers.",
    support::Signature(
        "get_diagnostics",
        {{"self"}, {"code", ArgType::Str}, {"module_name", ArgType::Str, Default::None}}),
    get_diagnostics_impl,
    {{"code", "str"}, {"module_name", "Optional[str]"}, {"return", "Dict[str, Any]"}}};

const support::FunctionDef run_pyflakes_def{
    "_run_pyflakes",
    "Lintora._run_pyflakes",
    "Pyflakes' warnings and errors for the buffer as markers.",
    support::Signature("_run_pyflakes",
                       {{"self"}, {"code", ArgType::Str}, {"filename", ArgType::Str}}),
    run_pyflakes_impl,
    {{"code", "str"}, {"filename", "str"}, {"return", "List[Dict[str, Any]]"}}};

const support::FunctionDef parse_pyflakes_message_def{
    "_parse_pyflakes_message",
    "Lintora._parse_pyflakes_message",
    "One marker from one line of pyflakes output, or None.",
    support::Signature("_parse_pyflakes_message",
                       {{"self"}, {"message", ArgType::Str}, {"severity", ArgType::Int}}),
    parse_pyflakes_message_impl,
    {{"message", "str"}, {"severity", "int"}, {"return", "Optional[Dict[str, Any]]"}}};

}  // namespace lintora
