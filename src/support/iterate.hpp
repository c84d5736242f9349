// `for item in iterable:` from C++: `for (PyObject* item : iterate(obj)) { ... }`.
//
// Each item is owned by the loop until the next step (keep a Ref of it to hold it longer); an
// error from the iterator unwinds with PyErrorSet, as every failure does. `break` and `continue`
// work as in Python.
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
        PyObject* operator*() const noexcept { return item_.get(); }
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
