// Completion requests: jedi's completions at the cursor as Monaco completion items.
#include "lintora/common.hpp"
#include "lintora/completion_cache.hpp"
#include "lintora/completion_text.hpp"
#include "lintora/known_globals.hpp"
#include "lintora/lines.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

constexpr Py_ssize_t kPreviewLength = 100;
constexpr Py_ssize_t kSampleLabels = 5;

bool starts_with_underscore(PyObject* s) {
    if (PyUnicode_Check(s)) return PyUnicode_GET_LENGTH(s) > 0 && PyUnicode_READ_CHAR(s, 0) == '_';
    return truthy(call_method(s, N.startswith, {N.s_underscore}).get());
}

Ref error_result(PyObject* message) {
    Ref empty = new_list();
    return make_dict({{N.k_completions, empty.get()}, {N.k_error, message}});
}

// True when the text before the cursor ends in the alias part of an import, where nothing useful
// can be offered.
bool in_import_alias(PyObject* module, PyObject* code, PyObject* line, PyObject* column) {
    Ref current = line_text(code, support::as_clamped_index(line));
    if (!current) return false;
    Ref before =
        Ref::steal(PySequence_GetSlice(current.get(), 0, support::as_clamped_index(column)));
    Ref pattern = lookup_global(module, N.g_alias_pattern);
    Ref found = call_method(pattern.get(), N.match, {before.get()});
    return found.get() != Py_None;
}

Ref kind_of(PyObject* table, PyObject* type) {
    Ref fallback = integer(kDefaultCompletionKind);
    if (PyDict_CheckExact(table)) {
        PyObject* found = nullptr;
        if (support::check(PyDict_GetItemRef(table, type, &found))) return Ref::steal(found);
        return fallback;
    }
    return call_method(table, N.get, {type, fallback.get()});
}

// jedi's type, then the detail (functions only) and the documentation, each left out when jedi
// raises for it.
ItemFields item_fields(PyObject* self, PyObject* completion) {
    ItemFields fields{get_attr(completion, N.type), Ref::steal(PyDict_New())};
    if (equals(fields.type.get(), N.s_function)) {
        guard(
            {PyExc_Exception},
            [&] {
                Ref signatures = call_method(completion, N.get_signatures, {});
                if (truthy(signatures.get())) {
                    Ref zero = integer(0);
                    Ref first = Ref::steal(PyObject_GetItem(signatures.get(), zero.get()));
                    Ref detail = call_method(self, N.m_format_signature, {first.get()});
                    set_item(fields.extras.get(), N.k_detail, detail.get());
                }
                return 0;
            },
            [](PyObject*) { return 0; });
    }
    guard(
        {PyExc_Exception},
        [&] {
            Ref doc = call_method(completion, N.docstring, {});
            if (truthy(doc.get())) set_item(fields.extras.get(), N.k_documentation, doc.get());
            return 0;
        },
        [](PyObject*) { return 0; });
    return fields;
}

Ref make_item(PyObject* self, PyObject* table, PyObject* completion, PyObject* name,
              CompletionCache& cache) {
    ItemFields fields =
        cache.fields(completion, name, [&] { return item_fields(self, completion); });
    Ref kind = kind_of(table, fields.type.get());
    Ref item = make_dict({{N.k_label, name}, {N.k_kind, kind.get()}, {N.k_insert_text, name}});
    support::check(PyDict_Update(item.get(), fields.extras.get()));
    return item;
}

void log_sample(PyObject* module, PyObject* items) {
    Ref logger = logger_if_enabled(module, LogLevel::Debug);
    if (!logger) return;
    const Py_ssize_t n = PyList_GET_SIZE(items);
    Ref labels = new_list();
    for (Py_ssize_t i = 0; i < n && i < kSampleLabels; ++i) {
        Ref label = Ref::steal(PyObject_GetItem(PyList_GET_ITEM(items, i), N.k_label));
        append(labels.get(), label.get());
    }
    PyObject* more = n > kSampleLabels ? N.s_ellipsis : N.s_empty;
    support::log_unchecked(logger.get(), LogLevel::Debug, "[LSP] Sample completions: %s%s",
                           {labels.get(), more});
}

Ref completions_body(PyObject* module, const ArgValues& a) {
    PyObject* self = a[cursor_arg::self];
    PyObject* code = a[cursor_arg::code];
    PyObject* line = a[cursor_arg::line];
    Ref cursor = cursor_column(code, line, a[cursor_arg::column]);
    PyObject* column = cursor.get();

    if (in_import_alias(module, code, line, column)) {
        lsp_log(module, LogLevel::Debug,
                "[LSP] In import alias context, returning empty completions");
        return error_result(Py_None);
    }
    if (cursor_in_comment(code, line, column)) {
        lsp_log(module, LogLevel::Debug, "[LSP] In a comment, returning empty completions");
        return error_result(Py_None);
    }

    sync_request_modules(self, a[cursor_arg::modules], a[cursor_arg::dirty_files]);
    Ref prefix = call_method(self, N.m_get_word_prefix, {code, line, column});
    const bool show_underscores = starts_with_underscore(prefix.get());
    CompletionCache cache(module, self);
    Ref script = make_script(module, self, code, a[cursor_arg::path]);
    cache.attach(script.get());
    Ref jedi_line = script_line(self, line);
    Ref completions = call_at(script.get(), N.complete, jedi_line.get(), column);
    Ref count = length(completions.get());
    lsp_log(module, LogLevel::Debug, "[LSP] Jedi returned %d completions", {count.get()});

    Ref table = lookup_global(module, N.g_kind_table);
    const InsertText insert_text(code, line, column);
    Ref items = new_list();
    for (Ref& completion : iterate(completions.get())) {
        Ref name = get_attr(completion.get(), N.name);
        if (!show_underscores && starts_with_underscore(name.get())) continue;
        Ref item = make_item(self, table.get(), completion.get(), name.get(), cache);
        Ref insert = insert_text.for_item(completion.get(), name.get());
        if (insert.get() != name.get()) set_item(item.get(), N.k_insert_text, insert.get());
        append(items.get(), item.get());
    }

    Ref response = make_dict({{N.k_completions, items.get()}, {N.k_error, Py_None}});
    Ref returned = length(items.get());
    lsp_log(module, LogLevel::Debug, "[LSP] Response: %d completions returned", {returned.get()});
    if (PyList_GET_SIZE(items.get()) > 0) log_sample(module, items.get());
    return response;
}

Ref get_completions_impl(PyObject* module, const ArgValues& a) {
    PyObject* code = a[cursor_arg::code];
    if (Ref logger = logger_if_enabled(module, LogLevel::Debug)) {
        Ref code_length = length(code);
        Ref preview = PyUnicode_GET_LENGTH(code) <= kPreviewLength
                          ? Ref::borrow(code)
                          : Ref::steal(PyUnicode_Substring(code, 0, kPreviewLength));
        Ref summary = make_dict({{N.line, a[cursor_arg::line]},
                                 {N.column, a[cursor_arg::column]},
                                 {N.path, a[cursor_arg::path]},
                                 {N.k_code_length, code_length.get()},
                                 {N.k_code_preview, preview.get()}});
        support::log_unchecked(logger.get(), LogLevel::Debug, "[LSP] Request: get_completions %s",
                               {summary.get()});
    }
    return request_guard(
        module, "[LSP] Error in get_completions: %s", [&] { return completions_body(module, a); },
        [](PyObject* message) { return error_result(message); });
}

// Takes the first four arguments of a cursor request, in the same places.
Ref get_word_prefix_impl(PyObject*, const ArgValues& a) {
    return word_before_cursor(a[cursor_arg::code], support::as_clamped_index(a[cursor_arg::line]),
                              support::as_clamped_index(a[cursor_arg::column]),
                              WordRule::Identifier);
}

}  // namespace

const support::FunctionDef get_completions_def{
    "get_completions",
    "Lintora.get_completions",
    "Completion items at the cursor (1-based line, 0-based column) in Monaco's shape.",
    cursor_request_signature("get_completions"),
    get_completions_impl,
    cursor_request_annotations()};

const support::FunctionDef get_word_prefix_def{
    "_get_word_prefix",
    "Lintora._get_word_prefix",
    "The identifier being typed before the cursor.",
    support::Signature(
        "_get_word_prefix",
        {{"self"}, {"code", ArgType::Str}, {"line", ArgType::Int}, {"column", ArgType::Int}}),
    get_word_prefix_impl,
    {{"code", "str"}, {"line", "int"}, {"column", "int"}, {"return", "str"}}};

}  // namespace lintora
