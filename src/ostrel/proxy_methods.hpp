// The special methods that every proxy class shares: each delegates to the operation function of
// the same stem (see delegate.hpp). The classes pick the ones they use.
#pragma once

#include "support/function.hpp"

namespace ostrel {

// Stores the five internal attributes with object.__setattr__, in their fixed order.
void init_internals(PyObject* module, PyObject* self, PyObject* object_id, PyObject* type_name,
                    PyObject* kind);

// `_cw__getattr__(self, name)` with trimming (for proxies whose attribute read adds nothing).
support::Ref delegate_getattr(PyObject* module, PyObject* self, PyObject* name);

// The delegating methods, one definition per class so that each carries its own __qualname__.
extern const support::FunctionDef object_getattr_def, object_call_def, object_del_def;
extern const support::FunctionDef array_getattr_def, array_call_def, array_del_def;
extern const support::FunctionDef dict_call_def, dict_del_def;

}  // namespace ostrel
