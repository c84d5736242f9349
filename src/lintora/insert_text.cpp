// The insertText of a completion item: what Monaco must insert in place of the word before the
// cursor so that the line reads as jedi completed it (see completion_text.hpp).
#include "lintora/completion_text.hpp"

#include "lintora/lines.hpp"

namespace lintora {

InsertText::InsertText(PyObject* code, PyObject* line, PyObject* column) {
    // Without the word every item keeps its name, as if the check were not there.
    word_ = guard(
        {PyExc_Exception},
        [&] {
            return word_before_cursor(code, support::as_clamped_index(line),
                                      support::as_clamped_index(column), WordRule::Monaco);
        },
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
