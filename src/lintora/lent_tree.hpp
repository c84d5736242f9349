// The syntax tree that get_diagnostics has just parsed, lent to the import check that it calls
// next with the very same code object, so that one request parses the buffer once for both.
// Only a tree made by the standard library's own `ast.parse` is lent, and only to a check that
// would call that same function: anyone who replaces the parser sees every call as before.
#pragma once

#include "support/ref.hpp"

namespace lintora {

// True when `parse` is the standard library's `ast.parse` (as first imported by this process).
bool is_stdlib_parse(PyObject* parse);

// While alive, offers `tree` (parsed from the str `code`) to `lent_tree` on this thread. Both
// must outlive the object; nesting restores the outer offer.
class LendTree {
public:
    LendTree(PyObject* code, PyObject* tree) noexcept;
    ~LendTree();
    LendTree(const LendTree&) = delete;
    LendTree& operator=(const LendTree&) = delete;

private:
    PyObject* outer_code_;
    PyObject* outer_tree_;
};

// The lent tree when `code` is the object it was parsed from, else an empty Ref.
support::Ref lent_tree(PyObject* code) noexcept;

}  // namespace lintora
