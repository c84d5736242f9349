// Multi-phase initialisation slots that keep one module object per process (see module_guard.hpp).
#include "support/module_guard.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace support {
namespace {

// The interpreter that owns this extension, claimed by its first import. Interpreters with their
// own GIL can import at the same time, so the claim is one atomic compare-and-swap; everything
// below it (g_module and the module's build) is touched only by the owner, under its GIL.
constexpr int64_t kNoInterpreter = -1;
std::atomic<int64_t> g_interpreter{kNoInterpreter};

const ModuleSpec* g_spec = nullptr;  // set by module_init before any slot runs
PyObject* g_module = nullptr;        // strong; lives until the process ends

bool check_interpreter() {
    const int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return false;
    int64_t owner = kNoInterpreter;
    if (!g_interpreter.compare_exchange_strong(owner, current) && owner != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return false;
    }
    return true;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
    if (!check_interpreter()) return nullptr;
    if (g_module) return Py_NewRef(g_module);
    return entry([&] {
        Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
        return Ref::steal(PyModule_NewObject(name.get()));
    });
}

int module_exec(PyObject* module) {
    if (!check_interpreter()) return -1;
    if (g_module) {
        if (g_module == module) return 0;  // re-import or reload: same object, state untouched
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g_spec->name);
        return -1;
    }
    g_module = Py_NewRef(module);
    int rc = entry_int([&] {
        if (g_spec->doc) {
            Ref doc = Ref::steal(PyUnicode_FromString(g_spec->doc));
            check(PyObject_SetAttrString(module, "__doc__", doc.get()));
        }
        g_spec->build(module);
        return 0;
    });
    if (rc < 0) {
        // Nothing of a failed initialisation remains: the import system drops the module object,
        // and the next import builds everything again.
        Py_CLEAR(g_module);
        if (g_spec->forget) g_spec->forget();
    }
    return rc;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // Declared supported so that every kind of second interpreter reaches our own check and
    // gets its message, instead of the import system's generic refusal.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_USED},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    nullptr,  // m_name, set by module_init
    nullptr,  // m_doc: set by exec so a reload does not reset it
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyObject* module_init(const ModuleSpec& spec) {
    // Every interpreter that imports the extension calls this, possibly at the same time.
    static std::once_flag described;
    std::call_once(described, [&] {
        g_spec = &spec;
        g_def.m_name = spec.name;
    });
    return PyModuleDef_Init(&g_def);
}

}  // namespace support
