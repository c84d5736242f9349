// The shape of a module's interned-name table: every identifier and literal the module hands to
// Python, listed once and interned at initialisation.
//
//   #define MY_NAMES(X) X(member, "text") X(other, "other text") ...
//   SUPPORT_NAME_TABLE(Names, MY_NAMES)
//
// declares `struct Names` with one `PyObject*` per entry, `intern_all()` (interns every entry not
// yet interned; throws PyErrorSet) and `clear_all()`. The strings are strong references kept for
// the process unless cleared.
#pragma once

#include "support/ref.hpp"

namespace support {

// An interned str for a C literal; the reference is owned by the caller. Only the tables below
// call it: a literal that Python sees belongs in its module's table, interned once.
inline Ref intern(const char* s) { return Ref::steal(PyUnicode_InternFromString(s)); }

}  // namespace support

#define SUPPORT_NAME_MEMBER(member, text) PyObject* member = nullptr;
#define SUPPORT_NAME_INTERN(member, text) \
    if (!member) member = ::support::intern(text).release();
#define SUPPORT_NAME_CLEAR(member, text) Py_CLEAR(member);

#define SUPPORT_NAME_TABLE(Table, LIST)                        \
    struct Table {                                             \
        LIST(SUPPORT_NAME_MEMBER)                              \
        void intern_all() { LIST(SUPPORT_NAME_INTERN) }        \
        void clear_all() noexcept { LIST(SUPPORT_NAME_CLEAR) } \
    };
