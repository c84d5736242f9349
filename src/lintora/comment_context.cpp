// Whether the completion cursor sits inside a comment. The editor asks for completions on every
// '.', so a sentence typed in a comment would otherwise pop up every builtin name.
#include "lintora/completion_text.hpp"

#include "lintora/lines.hpp"

namespace lintora {
namespace {

// The buffer's first `line` lines as readline would hand them to the tokenizer (each ended by
// "\n", the last one cut at the cursor); an empty Ref when no comment can hold the cursor (no such
// position, or no '#' before the cursor on its line: a comment containing the cursor starts there).
Ref source_to_cursor(PyObject* code, Py_ssize_t line, Py_ssize_t column) {
    const std::vector<LineSpan> spans = line_spans(code);
    if (line < 1 || line > static_cast<Py_ssize_t>(spans.size())) return Ref();
    const LineSpan current = spans[static_cast<std::size_t>(line - 1)];
    if (column < 0 || column > current.end - current.start) return Ref();
    const Py_ssize_t hash = PyUnicode_FindChar(code, '#', current.start, current.start + column, 1);
    if (hash == -2) support::throw_error();
    if (hash < 0) return Ref();

    Ref source = Ref::steal(PyList_New(line));
    for (Py_ssize_t i = 0; i < line - 1; ++i) {
        const LineSpan span = spans[static_cast<std::size_t>(i)];
        Ref text = Ref::steal(PyUnicode_Substring(code, span.start, span.end));
        PyList_SET_ITEM(source.get(), i,
                        Ref::steal(PyUnicode_Concat(text.get(), N.s_newline)).release());
    }
    PyList_SET_ITEM(
        source.get(), line - 1,
        Ref::steal(PyUnicode_Substring(code, current.start, current.start + column)).release());
    return source;
}

// Scans the tokens of `lines`; true when a comment token starts on `cursor_row` (1-based within
// `lines`). Errors of the tokenizer propagate.
bool comment_on_row(PyObject* tokenize, PyObject* readline, Py_ssize_t cursor_row) {
    Ref comment = Ref::steal(PyObject_GetAttr(tokenize, N.COMMENT));
    Ref tokens = call_method(tokenize, N.generate_tokens, {readline});
    for (Ref& token : iterate(tokens.get())) {
        Ref type = Ref::steal(PySequence_GetItem(token.get(), 0));
        if (!check(PyObject_RichCompareBool(type.get(), comment.get(), Py_EQ))) continue;
        Ref start = Ref::steal(PySequence_GetItem(token.get(), 2));
        Ref row = Ref::steal(PySequence_GetItem(start.get(), 0));
        if (support::as_clamped_index(row.get()) == cursor_row) return true;
    }
    return false;
}

bool in_comment(PyObject* code, PyObject* line_obj, PyObject* column_obj) {
    const Py_ssize_t line = support::as_clamped_index(line_obj);
    Ref source = source_to_cursor(code, line, support::as_clamped_index(column_obj));
    if (!source) return false;

    Ref tokenize = support::import_module("tokenize");
    Ref token_error = Ref::steal(PyObject_GetAttr(tokenize.get(), N.TokenError));
    // The tokenizer stops at the first error. An error on an earlier line (an unterminated string,
    // a stray dedent) says nothing about the cursor's line, so tokenizing starts afresh after the
    // lines it has read. Once it has read up to the cursor, its verdict stands: a string or bracket
    // still open at the end is the context the cursor is in.
    Py_ssize_t first = 0;
    while (first < line) {
        Ref rest = Ref::steal(PyList_GetSlice(source.get(), first, line));
        Ref lines = Ref::steal(PyObject_GetIter(rest.get()));
        Ref readline = Ref::steal(PyObject_GetAttr(lines.get(), N.dunder_next));
        const int found = guard(
            {token_error.get(), PyExc_SyntaxError},
            [&] { return comment_on_row(tokenize.get(), readline.get(), line - first) ? 1 : 0; },
            [](PyObject*) { return -1; });
        if (found >= 0) return found == 1;
        const Py_ssize_t unread = PyObject_LengthHint(lines.get(), 0);
        if (unread < 0) support::throw_error();
        const Py_ssize_t next = line - unread;
        if (unread == 0 || next <= first) return false;
        first = next;
    }
    return false;
}

}  // namespace

bool cursor_in_comment(PyObject* code, PyObject* line, PyObject* column) {
    return guard(
        {PyExc_Exception}, [&] { return in_comment(code, line, column); },
        [](PyObject*) { return false; });
}

}  // namespace lintora
