// Conversions between the editor's UTF-16 columns and Python's byte and code-point columns
// (see columns.hpp).
#include "lintora/columns.hpp"

#include "support/values.hpp"

namespace lintora {
namespace {

using support::Ref;

// The value of an exact int that fits a Py_ssize_t; anything else is left for the caller to keep.
bool as_index(PyObject* o, Py_ssize_t& out) {
    if (!PyLong_CheckExact(o)) return false;
    out = PyLong_AsSsize_t(o);
    if (out == -1 && PyErr_Occurred()) {
        PyErr_Clear();  // an exact int fails here only by overflow: too far out to mean a column
        return false;
    }
    return true;
}

Py_ssize_t utf8_width(Py_UCS4 c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }
Py_ssize_t utf16_width(Py_UCS4 c) { return c < 0x10000 ? 1 : 2; }

}  // namespace

bool Columns::find(Py_ssize_t line, Line& out) {
    if (!split_) {
        lines_ = line_spans(code_);
        split_ = true;
    }
    if (line < 1 || line > static_cast<Py_ssize_t>(lines_.size())) return false;
    const LineSpan span = lines_[static_cast<std::size_t>(line - 1)];
    const int kind = PyUnicode_KIND(code_);
    const void* data = PyUnicode_DATA(code_);
    Py_UCS4 widest = 0;
    for (Py_ssize_t i = span.start; i < span.end; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c > widest) widest = c;
    }
    out = {span.start, span.end, widest};
    return true;
}

Ref Columns::editor_column(PyObject* line, PyObject* column, PythonUnit unit) {
    if (!PyUnicode_Check(code_) || PyUnicode_IS_ASCII(code_)) return Ref::borrow(column);
    // Code points and UTF-16 units differ only for characters beyond the Basic Multilingual Plane.
    if (unit == PythonUnit::CodePoints && PyUnicode_KIND(code_) != PyUnicode_4BYTE_KIND)
        return Ref::borrow(column);
    Py_ssize_t lineno = 0, wanted = 0;
    if (!as_index(line, lineno) || !as_index(column, wanted) || wanted < 1)
        return Ref::borrow(column);
    Line found{};
    if (!find(lineno, found) || found.widest < (unit == PythonUnit::Utf8Bytes ? 0x80u : 0x10000u))
        return Ref::borrow(column);
    const Line* l = &found;

    const int kind = PyUnicode_KIND(code_);
    const void* data = PyUnicode_DATA(code_);
    const Py_ssize_t target = wanted - 1;
    Py_ssize_t counted = 0, units = 0, i = l->start;
    for (; i < l->end; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        const Py_ssize_t width = unit == PythonUnit::Utf8Bytes ? utf8_width(c) : 1;
        if (counted + width > target) break;
        counted += width;
        units += utf16_width(c);
    }
    if (i == l->end) units += target - counted;
    return support::ssize_int(units + 1);
}

Ref Columns::jedi_column(PyObject* line, PyObject* column) {
    if (!PyUnicode_Check(code_) || PyUnicode_KIND(code_) != PyUnicode_4BYTE_KIND)
        return Ref::borrow(column);
    Py_ssize_t lineno = 0, wanted = 0;
    if (!as_index(line, lineno) || !as_index(column, wanted) || wanted < 0)
        return Ref::borrow(column);
    Line found{};
    if (!find(lineno, found) || found.widest < 0x10000u) return Ref::borrow(column);
    const Line* l = &found;

    const int kind = PyUnicode_KIND(code_);
    const void* data = PyUnicode_DATA(code_);
    Py_ssize_t units = 0, i = l->start;
    for (; i < l->end; ++i) {
        const Py_ssize_t width = utf16_width(PyUnicode_READ(kind, data, i));
        if (units + width > wanted) break;
        units += width;
    }
    if (i == l->end && units < wanted) return Ref::borrow(column);
    return support::ssize_int(i - l->start);
}

Ref Columns::line_text(Py_ssize_t line) {
    if (!PyUnicode_Check(code_)) return Ref();
    Line found{};
    if (!find(line, found)) return Ref();
    const Line* l = &found;
    return Ref::steal(PyUnicode_Substring(code_, l->start, l->end));
}

Py_ssize_t Columns::code_point_index(Py_ssize_t line, Py_ssize_t offset) {
    if (!PyUnicode_Check(code_) || offset < 0) return -1;
    Line found{};
    if (!find(line, found)) return -1;
    const Line* l = &found;
    if (l->widest < 0x80u) return offset <= l->end - l->start ? offset : -1;
    const int kind = PyUnicode_KIND(code_);
    const void* data = PyUnicode_DATA(code_);
    Py_ssize_t bytes = 0, i = l->start;
    for (; i < l->end && bytes < offset; ++i) bytes += utf8_width(PyUnicode_READ(kind, data, i));
    return bytes == offset ? i - l->start : -1;
}

}  // namespace lintora
