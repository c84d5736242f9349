// See lent_tree.hpp. A str is immutable, so the same object means the same text and the same tree.
#include "lintora/lent_tree.hpp"

namespace lintora {
namespace {

thread_local PyObject* t_code = nullptr;
thread_local PyObject* t_tree = nullptr;

// Kept for the life of the process, never released (a static destructor would run after the
// interpreter is gone).
PyObject* g_stdlib_parse = nullptr;

}  // namespace

bool is_stdlib_parse(PyObject* parse) {
    if (!g_stdlib_parse) {
        support::Ref ast = support::Ref::steal(PyImport_ImportModule("ast"));
        g_stdlib_parse = support::Ref::steal(PyObject_GetAttrString(ast.get(), "parse")).release();
    }
    return parse == g_stdlib_parse;
}

LendTree::LendTree(PyObject* code, PyObject* tree) noexcept
    : outer_code_(t_code), outer_tree_(t_tree) {
    t_code = code;
    t_tree = tree;
}

LendTree::~LendTree() {
    t_code = outer_code_;
    t_tree = outer_tree_;
}

support::Ref lent_tree(PyObject* code) noexcept {
    if (code == nullptr || code != t_code || t_tree == nullptr) return support::Ref();
    return support::Ref::borrow(t_tree);
}

}  // namespace lintora
