// The pieces that module initialisation puts together, one builder per file, in the order the
// module creates them.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// serializer.cpp: the class `Serializer` with the static methods to_wire and from_wire.
support::Ref make_serializer_class(PyObject* module);

// messaging.cpp: the class `Messaging`.
support::Ref make_messaging_class(PyObject* module);

// operations.cpp: the five `_cw__` functions, set as module globals in order.
void add_operations(PyObject* module);

// proxy.cpp: the class `OfficeJsObject`.
support::Ref make_object_class(PyObject* module);

// collections.cpp: the classes `OfficeJsArray` and `OfficeJsDict`.
support::Ref make_array_class(PyObject* module);
support::Ref make_dict_class(PyObject* module);

// copying.cpp: how copy, deepcopy and pickle treat the three proxy classes (registered with the
// standard library, last, so that the classes and the globals stay as built).
void register_copying(PyObject* module, PyObject* object_class, PyObject* array_class,
                      PyObject* dict_class);

}  // namespace ostrel
