// The one rule by which every editor request splits a buffer into lines, and the word before the
// cursor. A line ends at "\n", "\r\n" or "\r", as jedi (parso), Python's tokenizer and Monaco all
// count them; a form feed, a vertical tab and the other separators that str.splitlines honours
// (\x1c to \x1e, \x85, \u2028, \u2029) are characters of their line, as they are to those three.
#pragma once

#include <vector>

#include "support/ref.hpp"

namespace lintora {

// One line of a buffer: the indices of its first character and just past its last, its line end
// excluded.
struct LineSpan {
    Py_ssize_t start;
    Py_ssize_t end;
};

// Every line of the str `code`, in order; a buffer always has at least one (possibly empty) line,
// and one that ends with a line end has an empty last line, as the editor shows it.
std::vector<LineSpan> line_spans(PyObject* code);

// The 1-based line `line` of the str `code` without its line end, or an empty Ref (no error set)
// when the buffer has no such line.
support::Ref line_text(PyObject* code, Py_ssize_t line);

// How a word is told from the text around it.
enum class WordRule {
    // The trailing run of ASCII letters, digits and underscores that starts with a letter or an
    // underscore (what `[a-zA-Z_][a-zA-Z0-9_]*$` finds): decides whether private names are offered.
    Identifier,
    // Monaco's default word definition, which its Python mode keeps: what the editor replaces
    // with a completion's insertText. The word is found on the whole line, so a number such as
    // `1.5` is one word even with the cursor after its point.
    Monaco,
};

// The part before the cursor of the word at the cursor (1-based `line`, 0-based code-point
// `column`; a negative column counts from the end of the line, as a slice does), or "" when there
// is no such line or no word ends there.
support::Ref word_before_cursor(PyObject* code, Py_ssize_t line, Py_ssize_t column, WordRule rule);

}  // namespace lintora
