// Module-namespace helpers: late-bound global lookup and classes built the way a class
// statement builds them.
#pragma once

#include <utility>
#include <vector>

#include "support/ref.hpp"

namespace support {

// Looks `name` up at call time: the module's globals, then builtins; NameError
// "name '%U' is not defined" when neither has it. Used wherever a global must be late-bound.
Ref lookup_global(PyObject* module, PyObject* name);

// Sets a module global (a new reference is taken; `value` keeps its own).
void set_global(PyObject* module, const char* name, PyObject* value);

// One entry of a class namespace, in the order a class body would define it.
struct Member {
    const char* name;
    Ref value;
};

// `type(name, bases, namespace)` with `__module__`, `__qualname__` and `__doc__` first, then the
// members in order. `bases` may be nullptr for (object,).
Ref make_class(PyObject* module, const char* name, PyObject* bases, const char* doc,
               const std::vector<Member>& members);

// `import name` (the top package for a dotted name, as the statement binds it) and
// `from name import attr`.
Ref import_module(const char* name);
Ref import_from(const char* module, const char* attr);

// `import name` (the top package for a dotted name, see import_module) and `from name import
// attr`, bound as the module global `bound_as` (for bind_from, nullptr means `attr`).
void bind_import(PyObject* module, const char* name, const char* bound_as);
void bind_from(PyObject* module, const char* name, const char* attr,
               const char* bound_as = nullptr);

// `from <dots> name import attr` inside `module` (a relative import: `level` dots, resolved
// against the module's own `__package__`/`__spec__`, as the statement in the module's body would).
Ref import_from_relative(PyObject* module, const char* name, const char* attr, int level);

}  // namespace support
