// The native function type: module functions, methods and static methods of both modules.
//
// A function object carries a static FunctionDef (name, docstring, Signature, C++ body) and the
// module whose globals the body sees. It is called through vectorcall, parses its arguments with
// the shared argument rule, and binds like a Python function: placed in a class namespace it
// becomes a method (`obj.meth` is a bound method, special methods work through the slot
// wrappers), wrapped in `staticmethod` it is a static method. It exposes `__name__`,
// `__qualname__`, `__module__`, `__doc__`, `__annotations__`, `__text_signature__` and a
// `__dict__`, so introspection and decorators see an ordinary function.
#pragma once

#include <initializer_list>
#include <vector>

#include "support/args.hpp"
#include "support/namespace.hpp"
#include "support/ref.hpp"

namespace support {

// The C++ body of a function: `module` is the module it belongs to (for late-bound globals),
// `args` the parsed arguments. Returns the result or throws PyErrorSet.
using FunctionImpl = Ref (*)(PyObject* module, const ArgValues& args);

struct Annotation {
    const char* name;   // parameter name, or "return"
    const char* value;  // stored as this string, the way postponed annotations are
};

struct FunctionDef {
    const char* name;
    const char* qualname;  // e.g. "Messaging.reset"; nullptr means the same as `name`
    const char* doc;       // nullptr means None
    Signature signature;
    FunctionImpl impl;
    std::vector<Annotation> annotations = {};
};

// A new function object for `def` (which must have static storage) in `module`.
Ref make_function(PyObject* module, const FunctionDef& def);

// Class namespace members for `defs`, each under its own name, in the order given: the
// methods of a class body.
std::vector<Member> methods(PyObject* module, std::initializer_list<const FunctionDef*> defs);

}  // namespace support
