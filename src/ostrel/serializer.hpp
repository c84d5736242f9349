// The wire encoding as the rest of the bridge uses it: `Serializer.to_wire` / `from_wire`
// looked up through the module global at each use.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// `Serializer.to_wire(value)`.
support::Ref to_wire(PyObject* module, PyObject* value);

// `Serializer.from_wire(wire)`.
support::Ref from_wire(PyObject* module, PyObject* wire);

}  // namespace ostrel
