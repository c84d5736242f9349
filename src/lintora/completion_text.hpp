// What a completion request needs to know about the text around the cursor as the editor sees it:
// whether the cursor sits in a comment, and which insertText makes Monaco's word replacement
// produce the text jedi completed.
#pragma once

#include "lintora/common.hpp"

namespace lintora {

// True when the cursor (1-based `line`, 0-based `column`, both ints) is inside a comment, judged by
// Python's tokenizer over the buffer up to the cursor, so a '#' inside a string does not count.
// Any failure of the check itself counts as "not in a comment".
bool cursor_in_comment(PyObject* code, PyObject* line, PyObject* column);

// The insertText of each completion item of one request. Monaco replaces the word before the
// cursor (by its own word definition) with insertText; jedi replaces the last
// `get_completion_prefix_length()` characters with the completion's name. When the two agree the
// name is inserted as it is; otherwise the text is adjusted so both give the same line.
class InsertText {
public:
    InsertText(PyObject* code, PyObject* line, PyObject* column);
    // The insertText for `completion`, whose name is `name`; `name` when it cannot tell.
    Ref for_item(PyObject* completion, PyObject* name) const;

private:
    Ref word_;
    Py_ssize_t word_length_ = 0;
};

}  // namespace lintora
