// Late-bound globals and class construction (see namespace.hpp).
#include "support/namespace.hpp"

namespace support {

Ref lookup_global(PyObject* module, PyObject* name) {
    PyObject* globals = PyModule_GetDict(module);  // borrowed, lives with the module
    if (!globals) throw_error();
    PyObject* found = nullptr;
    if (check(PyDict_GetItemRef(globals, name, &found))) return Ref::steal(found);
    PyObject* builtins = PyEval_GetFrameBuiltins();
    if (!builtins) throw_error();
    Ref builtins_ref = Ref::steal(builtins);
    if (check(PyDict_GetItemRef(builtins_ref.get(), name, &found))) return Ref::steal(found);
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    throw_error();
}

void set_global(PyObject* module, const char* name, PyObject* value) {
    check(PyObject_SetAttrString(module, name, value));
}

Ref make_class(PyObject* module, const char* name, PyObject* bases, const char* doc,
               const std::vector<Member>& members) {
    Ref ns = Ref::steal(PyDict_New());
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    check(PyDict_SetItemString(ns.get(), "__module__", module_name.get()));
    Ref qualname = Ref::steal(PyUnicode_FromString(name));
    check(PyDict_SetItemString(ns.get(), "__qualname__", qualname.get()));
    Ref doc_obj = doc ? Ref::steal(PyUnicode_FromString(doc)) : none();
    check(PyDict_SetItemString(ns.get(), "__doc__", doc_obj.get()));
    for (const Member& m : members) check(PyDict_SetItemString(ns.get(), m.name, m.value.get()));
    Ref base_tuple = bases ? Ref::borrow(bases) : Ref::steal(PyTuple_New(0));
    return Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "sOO", name,
                                            base_tuple.get(), ns.get()));
}

Ref import_module(const char* name) {
    Ref mod = Ref::steal(PyImport_ImportModule(name));
    const char* dot = name;
    while (*dot && *dot != '.') ++dot;
    if (!*dot) return mod;
    // `import a.b` binds `a`.
    Ref top = Ref::steal(PyUnicode_FromStringAndSize(name, dot - name));
    return Ref::steal(PyImport_Import(top.get()));
}

Ref import_from(const char* module, const char* attr) {
    // A fromlist makes the import system load `module.attr` when it is a submodule, as the
    // statement does.
    Ref fromlist = Ref::steal(Py_BuildValue("(s)", attr));
    Ref mod = Ref::steal(PyImport_ImportModuleLevel(module, nullptr, nullptr, fromlist.get(), 0));
    PyObject* value = nullptr;
    if (check(PyObject_GetOptionalAttrString(mod.get(), attr, &value))) return Ref::steal(value);
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", attr, module);
    throw_error();
}

void bind_import(PyObject* module, const char* name, const char* bound_as) {
    Ref value = import_module(name);
    set_global(module, bound_as, value.get());
}

void bind_from(PyObject* module, const char* name, const char* attr, const char* bound_as) {
    Ref value = import_from(name, attr);
    set_global(module, bound_as ? bound_as : attr, value.get());
}

Ref import_from_relative(PyObject* module, const char* name, const char* attr, int level) {
    PyObject* globals = PyModule_GetDict(module);  // borrowed, lives with the module
    if (!globals) throw_error();
    Ref fromlist = Ref::steal(Py_BuildValue("(s)", attr));
    Ref rel = Ref::steal(PyUnicode_FromString(name));
    Ref mod = Ref::steal(
        PyImport_ImportModuleLevelObject(rel.get(), globals, nullptr, fromlist.get(), level));
    PyObject* value = nullptr;
    if (check(PyObject_GetOptionalAttrString(mod.get(), attr, &value))) return Ref::steal(value);
    Ref mod_name = Ref::steal(PyObject_GetAttrString(mod.get(), "__name__"));
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%U'", attr, mod_name.get());
    throw_error();
}

}  // namespace support
