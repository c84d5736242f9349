// `for item in iterable:` from C++: `for (Ref& item : iterate(obj)) { ... }`.
//
// Each item is owned by the loop until the next step (move it out to keep it); an error from the
// iterator unwinds with PyErrorSet, as every failure does, instead of ending the loop as if the
// iterator were exhausted. `break`, `continue` and `return` work as in Python.
#pragma once

#include "support/ref.hpp"

namespace support {

class Iteration {
public:
    explicit Iteration(PyObject* iterable) : it_(Ref::steal(PyObject_GetIter(iterable))) {}

    class Step {
    public:
        explicit Step(PyObject* it) : it_(it) {
            if (it_) advance();
        }
        Ref& operator*() noexcept { return item_; }
        Step& operator++() {
            advance();
            return *this;
        }
        bool operator!=(const Step&) const noexcept { return static_cast<bool>(item_); }

    private:
        void advance() {
            item_ = Ref::steal_or_null(PyIter_Next(it_));
            if (!item_ && PyErr_Occurred()) throw_error();
        }
        PyObject* it_;
        Ref item_;
    };

    Step begin() { return Step(it_.get()); }
    Step end() { return Step(nullptr); }

private:
    Ref it_;
};

inline Iteration iterate(PyObject* iterable) { return Iteration(iterable); }

}  // namespace support
