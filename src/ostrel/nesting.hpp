// Depth and cycle limits for the recursive encoder and decoder.
//
// Every nested container costs one level. Nesting deeper than the interpreter's recursion limit
// raises RecursionError, the way a recursive Python function would; a hard cap below the C
// recursion limit keeps the C stack safe even when a program raises the recursion limit.
// Self-containing values are told apart from merely deep ones by a scan of the containers on
// the current path, done only past a modest depth so that ordinary values pay nothing for it.
#pragma once

#include <vector>

#include "support/ref.hpp"

namespace ostrel {

class Nesting {
public:
    // `container` is checked against the current path when `detect_cycles` is set. `where` ends
    // the RecursionError text ("maximum recursion depth exceeded" + where).
    Nesting(PyObject* container, bool detect_cycles, const char* where);
    ~Nesting();
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

private:
    support::RecursionGuard guard_;
};

}  // namespace ostrel
