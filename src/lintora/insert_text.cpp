// The insertText of a completion item: what Monaco must insert in place of the word before the
// cursor so that the line reads as jedi completed it (see completion_text.hpp).
#include "lintora/completion_text.hpp"

namespace lintora {
namespace {

// The part before the cursor of the word Monaco finds at the cursor (1-based line, 0-based
// column), i.e. what its completion replaces: the first match that starts at or before the
// cursor and ends at or after it.
Ref monaco_word_before(PyObject* code, PyObject* line_obj, PyObject* column_obj) {
    const Py_ssize_t line = support::as_clamped_index(line_obj);
    const Py_ssize_t column = support::as_clamped_index(column_obj);
    Ref lines = Ref::steal(PyUnicode_Split(code, N.s_newline, -1));
    if (line < 1 || line > PyList_GET_SIZE(lines.get())) return Ref::borrow(N.s_empty);
    PyObject* text = PyList_GET_ITEM(lines.get(), line - 1);
    if (column < 0 || column > PyUnicode_GET_LENGTH(text)) return Ref::borrow(N.s_empty);

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

InsertText::InsertText(PyObject* code, PyObject* line, PyObject* column) {
    // Without the word every item keeps its name, as if the check were not there.
    word_ = guard(
        {PyExc_Exception}, [&] { return monaco_word_before(code, line, column); },
        [](PyObject*) { return Ref(); });
    if (word_) word_length_ = PyUnicode_GET_LENGTH(word_.get());
}

Ref InsertText::for_item(PyObject* completion, PyObject* name) const {
    if (!word_) return Ref::borrow(name);
    return guard(
        {PyExc_Exception},
        [&] {
            Ref replaced_obj = call_method(completion, N.get_completion_prefix_length, {});
            const Py_ssize_t replaced = support::as_ssize(replaced_obj.get());
            // The usual case: jedi completes exactly the word Monaco replaces.
            if (replaced == word_length_ || replaced < 0) return Ref::borrow(name);
            if (replaced < word_length_) {
                // jedi completes only the end of Monaco's word; keep the start Monaco would drop.
                Ref kept = Ref::steal(PyUnicode_Substring(word_.get(), 0, word_length_ - replaced));
                return Ref::steal(PyUnicode_Concat(kept.get(), name));
            }
            // jedi's word reaches back past Monaco's (an opening quote, a path up to '-' or '.'):
            // Monaco cannot replace that part, so insert the word again followed by what jedi adds.
            Ref complete = get_attr(completion, N.complete);
            if (!PyUnicode_Check(complete.get())) return Ref::borrow(name);
            return Ref::steal(PyUnicode_Concat(word_.get(), complete.get()));
        },
        [&](PyObject*) { return Ref::borrow(name); });
}

}  // namespace lintora
