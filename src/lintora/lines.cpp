// Lines of a buffer and the word before the cursor (see lines.hpp).
#include "lintora/lines.hpp"

#include <new>

#include "lintora/common.hpp"

namespace lintora {
namespace {

// Calls `visit(start, end)` for each line of `s[0:n]` until it returns false; the line rule lives
// here and nowhere else.
template <class Char, class Visit>
void scan(const Char* s, Py_ssize_t n, Visit& visit) {
    Py_ssize_t start = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Char c = s[i];
        if (c != '\n' && c != '\r') continue;
        if (!visit(start, i)) return;
        if (c == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
        start = i + 1;
    }
    visit(start, n);
}

template <class Visit>
void for_each_line(PyObject* code, Visit visit) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(code);
    switch (PyUnicode_KIND(code)) {
        case PyUnicode_1BYTE_KIND:
            return scan(PyUnicode_1BYTE_DATA(code), n, visit);
        case PyUnicode_2BYTE_KIND:
            return scan(PyUnicode_2BYTE_DATA(code), n, visit);
        default:
            return scan(PyUnicode_4BYTE_DATA(code), n, visit);
    }
}

bool ascii_word_char(Py_UCS4 c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

Ref identifier_before(PyObject* text, Py_ssize_t column) {
    Py_ssize_t start = column;
    while (start > 0 && ascii_word_char(PyUnicode_READ_CHAR(text, start - 1))) --start;
    // An identifier cannot start with a digit: `9ab` ends in the word `ab`.
    while (start < column && PyUnicode_READ_CHAR(text, start) >= '0' &&
           PyUnicode_READ_CHAR(text, start) <= '9')
        ++start;
    return Ref::steal(PyUnicode_Substring(text, start, column));
}

// The first match on the line that starts at or before the cursor and ends at or after it.
Ref monaco_word_before(PyObject* text, Py_ssize_t column) {
    Ref re = support::import_module("re");
    Ref pattern = call_method(re.get(), N.compile, {N.s_monaco_word_pattern});
    Ref matches = call_method(pattern.get(), N.finditer, {text});
    for (Ref& match : iterate(matches.get())) {
        Ref start_obj = call_method(match.get(), N.start, {});
        const Py_ssize_t start = support::as_ssize(start_obj.get());
        if (start > column) break;
        Ref end_obj = call_method(match.get(), N.end, {});
        const Py_ssize_t end = support::as_ssize(end_obj.get());
        if (end >= column) return Ref::steal(PyUnicode_Substring(text, start, column));
    }
    return Ref::borrow(N.s_empty);
}

}  // namespace

std::vector<LineSpan> line_spans(PyObject* code) {
    std::vector<LineSpan> spans;
    try {
        for_each_line(code, [&](Py_ssize_t start, Py_ssize_t end) {
            spans.push_back({start, end});
            return true;
        });
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        support::throw_error();
    }
    return spans;
}

Ref line_text(PyObject* code, Py_ssize_t line) {
    if (line < 1) return Ref();
    Py_ssize_t seen = 0;
    LineSpan found{0, -1};
    for_each_line(code, [&](Py_ssize_t start, Py_ssize_t end) {
        if (++seen < line) return true;
        found = {start, end};
        return false;
    });
    if (found.end < 0) return Ref();
    return Ref::steal(PyUnicode_Substring(code, found.start, found.end));
}

Ref word_before_cursor(PyObject* code, Py_ssize_t line, Py_ssize_t column, WordRule rule) {
    Ref text = line_text(code, line);
    if (!text) return Ref::borrow(N.s_empty);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.get());
    if (column < 0) column = column < -length ? 0 : length + column;
    if (column > length) column = length;
    return rule == WordRule::Identifier ? identifier_before(text.get(), column)
                                        : monaco_word_before(text.get(), column);
}

}  // namespace lintora
