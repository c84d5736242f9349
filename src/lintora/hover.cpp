// Hover requests: Markdown describing what jedi infers under the cursor, compact or detailed,
// with jedi's help lookup when inference finds nothing.
#include "lintora/columns.hpp"
#include "lintora/common.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

Ref hover_result(PyObject* contents, PyObject* error) {
    return make_dict({{N.k_contents, contents}, {N.k_error, error}});
}

Ref markdown_result(PyObject* parts) {
    Ref value = Ref::steal(PyUnicode_Join(N.s_separator, parts));
    Ref contents = make_dict({{N.k_kind, N.s_markdown}, {N.k_value, value.get()}});
    return hover_result(contents.get(), Py_None);
}

// `prefix + str(name) + str(self._format_signature(first signature))`, or without the signature
// when there is none or getting it fails.
Ref function_text(PyObject* self, PyObject* definition, const char* prefix, PyObject* name) {
    return guard(
        {PyExc_Exception},
        [&] {
            Ref signatures = call_method(definition, N.get_signatures, {});
            if (!truthy(signatures.get()))
                return Ref::steal(PyUnicode_FromFormat("%s%S", prefix, name));
            Ref zero = integer(0);
            Ref first = Ref::steal(PyObject_GetItem(signatures.get(), zero.get()));
            Ref formatted = call_method(self, N.m_format_signature, {first.get()});
            return Ref::steal(PyUnicode_FromFormat("%s%S%S", prefix, name, formatted.get()));
        },
        [&](PyObject*) { return Ref::steal(PyUnicode_FromFormat("%s%S", prefix, name)); });
}

// Appends `part` unless an equal part is already there (overloads that read the same).
void append_new(PyObject* parts, PyObject* part) {
    if (!support::check(PySequence_Contains(parts, part))) append(parts, part);
}

// Appends `definition.docstring()` as a part of its own when it is non-empty; a failing
// docstring only drops itself.
void append_docstring(PyObject* parts, PyObject* definition) {
    guard(
        {PyExc_Exception},
        [&] {
            Ref doc = call_method(definition, N.docstring, {});
            if (truthy(doc.get())) append_new(parts, doc.get());
            return 0;
        },
        [](PyObject*) { return 0; });
}

Ref detailed_block(PyObject* self, PyObject* definition) {
    Ref full_name = get_attr(definition, N.full_name);
    if (!truthy(full_name.get())) full_name = get_attr(definition, N.name);
    Ref def_type = get_attr(definition, N.type);
    Ref body;
    if (equals(def_type.get(), N.s_function)) {
        body = function_text(self, definition, "", full_name.get());
    } else if (equals(def_type.get(), N.s_class)) {
        body = Ref::steal(PyUnicode_FromFormat("class %S", full_name.get()));
    } else if (equals(def_type.get(), N.s_module)) {
        body = Ref::steal(PyUnicode_FromFormat("module %S", full_name.get()));
    } else {
        Ref description = call_method(self, N.m_get_type_description, {definition, def_type.get()});
        body = Ref::steal(PyUnicode_FromFormat("%S: %S", full_name.get(), description.get()));
    }
    return fenced_block(body.get());
}

constexpr Py_ssize_t kDescriptionLength = 120;

// For a name jedi cannot infer, help's description is the source of the defining statement, a
// whole loop or call squashed into one line; the hover shows its first line, cut to
// kDescriptionLength characters, with an ellipsis wherever text was left out.
Ref short_description(PyObject* description) {
    Ref text = str(description);
    Ref stripped = call_method(text.get(), N.strip, {});
    Ref lines = Ref::steal(PyUnicode_Splitlines(stripped.get(), 0));
    if (PyList_GET_SIZE(lines.get()) == 0) return Ref::borrow(N.s_empty);
    Ref first = Ref::borrow(PyList_GET_ITEM(lines.get(), 0));
    const bool more_lines = PyList_GET_SIZE(lines.get()) > 1;
    if (!more_lines && PyUnicode_GET_LENGTH(first.get()) <= kDescriptionLength) return first;
    Ref kept = Ref::steal(PyUnicode_Substring(first.get(), 0, kDescriptionLength - 1));
    Ref ellipsis = Ref::steal(PyUnicode_FromOrdinal(0x2026));
    return Ref::steal(PyUnicode_Concat(kept.get(), ellipsis.get()));
}

Ref help_fallback(PyObject* module, PyObject* script, PyObject* line, PyObject* column) {
    lsp_log(module, LogLevel::Debug, "[LSP] infer() returned empty, trying help() as fallback");
    Ref found = guard(
        {PyExc_Exception},
        [&]() -> Ref {
            Ref results = call_at(script, N.help, line, column);
            if (!truthy(results.get())) return Ref();
            Ref parts = new_list();
            for (Ref& h : iterate(results.get())) {
                Ref name = either(get_attr(h.get(), N.name), N.s_empty);
                Ref desc = get_attr_optional(h.get(), N.description);
                if (!desc) desc = Ref::borrow(N.s_empty);
                if (truthy(name.get())) {
                    Ref shown =
                        truthy(desc.get()) ? short_description(desc.get()) : Ref::borrow(N.s_empty);
                    Ref body =
                        PyUnicode_GET_LENGTH(shown.get()) > 0
                            ? Ref::steal(PyUnicode_FromFormat("(%U) %S", shown.get(), name.get()))
                            : str(name.get());
                    Ref block = fenced_block(body.get());
                    append(parts.get(), block.get());
                }
                append_docstring(parts.get(), h.get());
            }
            if (PyList_GET_SIZE(parts.get()) == 0) return Ref();
            Ref result = markdown_result(parts.get());
            Ref count = length(results.get());
            lsp_log(module, LogLevel::Debug, "[LSP] Hover (from help()): found %d results",
                    {count.get()});
            return result;
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Debug, "[LSP] help() fallback failed: %s", {e});
            return Ref();
        });
    if (found) return found;
    lsp_log(module, LogLevel::Debug, "[LSP] No type information found for hover");
    return hover_result(Py_None, Py_None);
}

// A compact hover is one line, at most this long; the rest of a longer line is left out.
constexpr Py_ssize_t kCompactLineLength = 140;

bool word_char(Py_UCS4 c) { return c == '_' || Py_UNICODE_ISALNUM(c); }

// The identifier the cursor is on or just after (the 0-based code-point `column` of the
// 1-based `line`), or an empty Ref.
Ref word_at(PyObject* code, PyObject* line, PyObject* column) {
    const Py_ssize_t lineno = PyLong_AsSsize_t(line);
    const Py_ssize_t at = PyLong_AsSsize_t(column);
    if ((lineno == -1 || at == -1) && PyErr_Occurred()) {
        PyErr_Clear();
        return Ref();
    }
    Columns columns(code);
    Ref text = columns.line_text(lineno);
    if (!text) return Ref();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text.get());
    if (at > n) return Ref();
    Py_ssize_t start = at, end = at;
    while (start > 0 && word_char(PyUnicode_READ_CHAR(text.get(), start - 1))) --start;
    while (end < n && word_char(PyUnicode_READ_CHAR(text.get(), end))) ++end;
    if (start == end || Py_UNICODE_ISDIGIT(PyUnicode_READ_CHAR(text.get(), start))) return Ref();
    return Ref::steal(PyUnicode_Substring(text.get(), start, end));
}

// "```python\nname: Type\n```" for a value (an instance) hovered under the name it is known by;
// an empty Ref for anything else.
// A definition that fails to say what it is gets the compact format's own handling.
Ref variable_block(PyObject* definition, PyObject* word) {
    if (!word) return Ref();
    return guard(
        {PyExc_Exception},
        [&]() -> Ref {
            Ref def_type = get_attr(definition, N.type);
            if (!equals(def_type.get(), N.s_instance)) return Ref();
            Ref type_name = get_attr(definition, N.name);
            if (!PyUnicode_Check(type_name.get()) || PyUnicode_GET_LENGTH(type_name.get()) == 0)
                return Ref();
            Ref body = Ref::steal(PyUnicode_FromFormat("%U: %U", word, type_name.get()));
            return fenced_block(body.get());
        },
        [](PyObject*) { return Ref(); });
}

// The first paragraph of a function's or method's own documentation (without the signature
// line jedi puts before it), or an empty Ref.
Ref first_paragraph(PyObject* definition) {
    return guard(
        {PyExc_Exception},
        [&]() -> Ref {
            Ref def_type = get_attr(definition, N.type);
            if (!equals(def_type.get(), N.s_function)) return Ref();
            Ref doc = call_method(definition, N.docstring, {}, {{N.raw, Py_True}});
            if (!PyUnicode_Check(doc.get())) return Ref();
            Ref stripped = call_method(doc.get(), N.strip, {});
            const Py_ssize_t n = PyUnicode_GET_LENGTH(stripped.get());
            if (n == 0) return Ref();
            const Py_ssize_t cut = PyUnicode_Find(stripped.get(), N.s_paragraph_break, 0, n, 1);
            if (cut == -2) support::throw_error();
            if (cut < 0) return stripped;
            Ref paragraph = Ref::steal(PyUnicode_Substring(stripped.get(), 0, cut));
            return call_method(paragraph.get(), N.strip, {});
        },
        [](PyObject*) { return Ref(); });
}

// A fenced block of one line kept to kCompactLineLength characters.
Ref compact_line(PyObject* block) {
    if (!PyUnicode_Check(block)) return Ref::borrow(block);
    constexpr Py_ssize_t fence_open = 10, fence_close = 4;  // "```python\n", "\n```"
    const Py_ssize_t n = PyUnicode_GET_LENGTH(block);
    if (n - fence_open - fence_close <= kCompactLineLength) return Ref::borrow(block);
    Ref body = Ref::steal(PyUnicode_Substring(block, fence_open, n - fence_close));
    if (PyUnicode_FindChar(body.get(), '\n', 0, PyUnicode_GET_LENGTH(body.get()), 1) >= 0)
        return Ref::borrow(block);
    Ref kept = Ref::steal(PyUnicode_Substring(body.get(), 0, kCompactLineLength - 1));
    Ref ellipsis = Ref::steal(PyUnicode_FromOrdinal(0x2026));
    Ref line = Ref::steal(PyUnicode_Concat(kept.get(), ellipsis.get()));
    return fenced_block(line.get());
}

Ref hover_body(PyObject* module, const ArgValues& a) {
    PyObject* self = a[cursor_arg::self];
    CursorScript prepared = prepare_cursor_script(module, a);
    PyObject* line = prepared.line.get();
    PyObject* column = prepared.column.get();
    Ref script = std::move(prepared.script);
    Ref inferred = call_at(script.get(), N.infer, line, column);
    if (!truthy(inferred.get())) return help_fallback(module, script.get(), line, column);

    Ref parts = new_list();
    Ref word;
    bool word_looked_up = false;
    for (Ref& definition : iterate(inferred.get())) {
        Ref mode = get_attr(self, N.a_hover_mode);
        if (equals(mode.get(), N.s_compact)) {
            if (!word_looked_up) {
                word = word_at(a[cursor_arg::code], a[cursor_arg::line], column);
                word_looked_up = true;
            }
            Ref compact = variable_block(definition.get(), word.get());
            if (!compact) compact = call_method(self, N.m_format_compact_hover, {definition.get()});
            if (!truthy(compact.get())) continue;
            Ref line_block = compact_line(compact.get());
            if (support::check(PySequence_Contains(parts.get(), line_block.get()))) continue;
            append(parts.get(), line_block.get());
            if (Ref doc = first_paragraph(definition.get())) append_new(parts.get(), doc.get());
            continue;
        }
        Ref block = detailed_block(self, definition.get());
        append_new(parts.get(), block.get());
        append_docstring(parts.get(), definition.get());
    }

    Ref contents_text = PyList_GET_SIZE(parts.get()) > 0
                            ? Ref::steal(PyUnicode_Join(N.s_separator, parts.get()))
                            : support::none();
    Ref count = length(inferred.get());
    lsp_log(module, LogLevel::Debug, "[LSP] Hover: found %d definitions", {count.get()});
    if (!truthy(contents_text.get())) return hover_result(Py_None, Py_None);
    Ref contents = make_dict({{N.k_kind, N.s_markdown}, {N.k_value, contents_text.get()}});
    return hover_result(contents.get(), Py_None);
}

Ref get_hover_impl(PyObject* module, const ArgValues& a) {
    lsp_log(module, LogLevel::Debug, "[LSP] Request: get_hover line=%d, column=%d, path=%s",
            {a[cursor_arg::line], a[cursor_arg::column], a[cursor_arg::path]});
    return request_guard(
        module, "[LSP] Error in get_hover: %s", [&] { return hover_body(module, a); },
        [](PyObject* message) { return hover_result(Py_None, message); });
}

Ref format_compact_hover_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* definition = a[1];
    return guard(
        {PyExc_Exception},
        [&] {
            Ref name = either(get_attr(definition, N.name), N.s_empty);
            Ref def_type = get_attr(definition, N.type);
            Ref body;
            if (equals(def_type.get(), N.s_function)) {
                body = function_text(self, definition, "(function) ", name.get());
            } else if (equals(def_type.get(), N.s_class)) {
                body = Ref::steal(PyUnicode_FromFormat("(class) %S", name.get()));
            } else if (equals(def_type.get(), N.s_module)) {
                body = Ref::steal(PyUnicode_FromFormat("(module) %S", name.get()));
            } else {
                Ref description =
                    call_method(self, N.m_get_type_description, {definition, def_type.get()});
                body = Ref::steal(PyUnicode_FromFormat("(%S) %S: %S", def_type.get(), name.get(),
                                                       description.get()));
            }
            return fenced_block(body.get());
        },
        [&](PyObject* e) {
            if (Ref logger = logger_if_enabled(module, LogLevel::Debug)) {
                Ref message =
                    Ref::steal(PyUnicode_FromFormat("[LSP] Error formatting compact hover: %S", e));
                support::log_message(logger.get(), LogLevel::Debug, message.get());
            }
            return support::none();
        });
}

Ref get_type_description_impl(PyObject*, const ArgValues& a) {
    PyObject* definition = a[1];
    PyObject* fallback_type = a[2];
    Ref description = get_attr_optional(definition, N.description);
    Ref result = description && truthy(description.get()) ? std::move(description)
                                                          : Ref::borrow(fallback_type);
    if (!PyUnicode_Check(result.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "str",
                     Py_TYPE(result.get())->tp_name);
        support::throw_error();
    }
    return result;
}

}  // namespace

const support::FunctionDef get_hover_def{"get_hover",
                                         "Lintora.get_hover",
                                         "Markdown hover text for the symbol at the cursor.",
                                         cursor_request_signature("get_hover"),
                                         get_hover_impl,
                                         cursor_request_annotations()};

const support::FunctionDef format_compact_hover_def{
    "_format_compact_hover",
    "Lintora._format_compact_hover",
    "One fenced block: the type in parentheses, the name, then signature or description.",
    support::Signature("_format_compact_hover", {{"self"}, {"definition"}}),
    format_compact_hover_impl,
    {{"return", "Optional[str]"}}};

const support::FunctionDef get_type_description_def{
    "_get_type_description",
    "Lintora._get_type_description",
    "The definition's description when it has one, else the fallback type.",
    support::Signature("_get_type_description",
                       {{"self"}, {"definition"}, {"fallback_type", ArgType::Str}}),
    get_type_description_impl,
    {{"fallback_type", "str"}, {"return", "str"}}};

}  // namespace lintora
