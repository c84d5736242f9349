// Columns as the editor counts them. Monaco counts the columns of a line in UTF-16 code units;
// Python's parser gives UTF-8 byte offsets (ast nodes, and so pyflakes) or code points
// (SyntaxError.offset), and jedi counts code points. Every column that leaves or enters the
// editor services goes through here, so all of them agree on the text they point at.
//
// A buffer of ASCII text costs one flag test (CPython records it per str). Otherwise the buffer
// is split into lines once, by the editor services' one line rule (lines.hpp), and a line is
// converted only when its widest character makes the units differ.
#pragma once

#include <vector>

#include "lintora/lines.hpp"
#include "support/ref.hpp"

namespace lintora {

// The unit of a column that Python reported.
enum class PythonUnit {
    Utf8Bytes,   // ast col_offset / end_col_offset, pyflakes' columns
    CodePoints,  // SyntaxError.offset
};

class Columns {
public:
    // `code` is the buffer, a str that must outlive this object (any other object converts
    // nothing).
    explicit Columns(PyObject* code) noexcept : code_(code) {}
    Columns(const Columns&) = delete;
    Columns& operator=(const Columns&) = delete;

    // The 1-based editor column for the 1-based `column`, counted in `unit`, on the 1-based `line`.
    // A column past the end of the line keeps its excess; one inside a character goes to the
    // character's start. `column` itself comes back when nothing changes: an ASCII line, a line
    // that does not exist, or a value that is not a plain int.
    support::Ref editor_column(PyObject* line, PyObject* column, PythonUnit unit);

    // The 0-based code-point column for the editor's 0-based UTF-16 `column` on the 1-based `line`.
    // A column inside a surrogate pair goes to the character's start; one past the end of the
    // line comes back unchanged, so jedi reports it as it always has.
    support::Ref jedi_column(PyObject* line, PyObject* column);

    // The text of the 1-based `line`, its line break left out; an empty Ref when the buffer has
    // no such line (or is not a str).
    support::Ref line_text(Py_ssize_t line);

    // The 0-based code-point index on the 1-based `line` of the 0-based UTF-8 byte offset
    // `offset` (an ast column); -1 when the line does not exist or the offset lies past its end.
    Py_ssize_t code_point_index(Py_ssize_t line, Py_ssize_t offset);

private:
    struct Line {
        Py_ssize_t start;  // index of the first character
        Py_ssize_t end;    // index just past the last character, line break excluded
        Py_UCS4 widest;    // the largest character on the line (0 for an empty line)
    };

    // The 1-based line `line`, or false when the buffer has no such line.
    bool find(Py_ssize_t line, Line& out);

    PyObject* code_;
    std::vector<LineSpan> lines_;
    bool split_ = false;
};

}  // namespace lintora
