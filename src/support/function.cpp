// The native function type (see function.hpp): a heap type made once per extension module.
#include "support/function.hpp"

#include <structmember.h>

namespace support {
namespace {

struct FunctionObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionDef* def;
    PyObject* module;       // strong: the globals the body sees
    PyObject* name;         // str
    PyObject* qualname;     // str
    PyObject* module_name;  // __module__
    PyObject* doc;          // __doc__
    PyObject* annotations;  // dict, made on first access
    PyObject* dict;         // __dict__, made on first access
    PyObject* weakrefs;
};

PyTypeObject* g_type = nullptr;  // one per extension module (each links its own copy)

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
    auto* self = reinterpret_cast<FunctionObject*>(callable);
    return entry([&] {
        ArgValues values;
        parse_args(self->def->signature, args, nargsf, kwnames, values);
        return self->def->impl(self->module, values);
    });
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

int function_traverse(PyObject* op, visitproc visit, void* arg) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(self->module);
    Py_VISIT(self->name);
    Py_VISIT(self->qualname);
    Py_VISIT(self->module_name);
    Py_VISIT(self->doc);
    Py_VISIT(self->annotations);
    Py_VISIT(self->dict);
    return 0;
}

int function_clear(PyObject* op) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    // __module__ may be set to any object, so it can close a cycle; __name__ and __qualname__
    // stay str and are kept until deallocation, where repr and the getters can rely on them.
    Py_CLEAR(self->module);
    Py_CLEAR(self->module_name);
    Py_CLEAR(self->doc);
    Py_CLEAR(self->annotations);
    Py_CLEAR(self->dict);
    return 0;
}

void function_dealloc(PyObject* op) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    PyTypeObject* tp = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    if (self->weakrefs) PyObject_ClearWeakRefs(op);
    function_clear(op);
    Py_CLEAR(self->name);
    Py_CLEAR(self->qualname);
    tp->tp_free(op);
    Py_DECREF(tp);
}

PyObject* function_repr(PyObject* op) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    return PyUnicode_FromFormat("<function %U at %p>", self->qualname, op);
}

// __name__, __qualname__ and __module__ may be reassigned (functools.wraps does), but must stay str
// for the first two.
int set_str(PyObject** slot, PyObject* value, const char* what) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_XSETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject* get_name(PyObject* op, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(op)->name);
}
int set_name(PyObject* op, PyObject* v, void*) {
    return set_str(&reinterpret_cast<FunctionObject*>(op)->name, v, "__name__");
}
PyObject* get_qualname(PyObject* op, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(op)->qualname);
}
int set_qualname(PyObject* op, PyObject* v, void*) {
    return set_str(&reinterpret_cast<FunctionObject*>(op)->qualname, v, "__qualname__");
}
PyObject* get_module(PyObject* op, void*) {
    PyObject* module_name = reinterpret_cast<FunctionObject*>(op)->module_name;
    return Py_NewRef(module_name ? module_name : Py_None);
}
int set_module(PyObject* op, PyObject* v, void*) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    Py_XSETREF(self->module_name, Py_NewRef(v ? v : Py_None));
    return 0;
}
PyObject* get_doc(PyObject* op, void*) {
    PyObject* doc = reinterpret_cast<FunctionObject*>(op)->doc;
    return Py_NewRef(doc ? doc : Py_None);
}
int set_doc(PyObject* op, PyObject* v, void*) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    Py_XSETREF(self->doc, Py_NewRef(v ? v : Py_None));
    return 0;
}

PyObject* get_annotations(PyObject* op, void*) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    if (!self->annotations) {
        PyObject* d = entry([&] {
            Ref ann = Ref::steal(PyDict_New());
            for (const Annotation& a : self->def->annotations) {
                Ref v = Ref::steal(PyUnicode_FromString(a.value));
                check(PyDict_SetItemString(ann.get(), a.name, v.get()));
            }
            return ann;
        });
        if (!d) return nullptr;
        self->annotations = d;
    }
    return Py_NewRef(self->annotations);
}
int set_annotations(PyObject* op, PyObject* v, void*) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    if (v && !PyDict_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(self->annotations, Py_XNewRef(v));
    return 0;
}

PyObject* get_text_signature(PyObject* op, void*) {
    auto* self = reinterpret_cast<FunctionObject*>(op);
    const char* text = nullptr;
    try {
        text = self->def->signature.text_signature();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return PyUnicode_FromString(text);
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__module__", get_module, set_module, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__text_signature__", get_text_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY,
     nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, weakrefs), Py_READONLY, nullptr},
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, dict), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "native_function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

PyTypeObject* function_type() {
    if (!g_type) {
        g_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
        if (!g_type) throw_error();
    }
    return g_type;
}

}  // namespace

Ref make_function(PyObject* module, const FunctionDef& def) {
    if (const char* defect = def.signature.defect()) {
        PyErr_Format(PyExc_SystemError, "%s(): %s", def.name, defect);
        throw_error();
    }
    PyTypeObject* tp = function_type();
    Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
    Ref qualname = Ref::steal(PyUnicode_FromString(def.qualname ? def.qualname : def.name));
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    Ref doc = def.doc ? Ref::steal(PyUnicode_FromString(def.doc)) : none();
    auto* self = PyObject_GC_New(FunctionObject, tp);
    if (!self) throw_error();
    self->vectorcall = function_vectorcall;
    self->def = &def;
    self->module = Py_NewRef(module);
    self->name = name.release();
    self->qualname = qualname.release();
    self->module_name = module_name.release();
    self->doc = doc.release();
    self->annotations = nullptr;
    self->dict = nullptr;
    self->weakrefs = nullptr;
    PyObject_GC_Track(self);
    return Ref::steal(reinterpret_cast<PyObject*>(self));
}

std::vector<Member> methods(PyObject* module, std::initializer_list<const FunctionDef*> defs) {
    std::vector<Member> members;
    members.reserve(defs.size());
    for (const FunctionDef* def : defs) members.push_back({def->name, make_function(module, *def)});
    return members;
}

}  // namespace support
