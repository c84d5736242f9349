// Entry point of the Excel object bridge: builds the module's globals in their fixed order.
#include "ostrel/common.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/state.hpp"
#include "support/module_guard.hpp"

namespace ostrel {
namespace {

const char* const kDoc =
    "Cellumo Excel bridge.\n\n"
    "A synchronous bridge between Python and Excel Office.js: it gives Python code a\n"
    "synchronous proxy to Office.js objects, whose reads, writes and calls are sent to the\n"
    "Cellumo add-in and answered before they return.\n\n"
    "Classes:\n"
    "- Serializer: Handles marshaling of data types between Python and JavaScript\n"
    "- Messaging: Handles message passing with synchronous send/wait (no WebSocket server)\n"
    "- OfficeJsObject: Dynamic proxy for Office.js objects\n"
    "- OfficeJsArray: Specialized proxy for arrays\n"
    "- OfficeJsDict: Specialized proxy for dictionaries\n\n"
    "Globals:\n"
    "- Excel: Root proxy object (ID 1)\n"
    "- Context: Context proxy object (ID 0)\n";

// The fixed object ids of the root proxies (the add-in resolves them without being told).
constexpr long kContextId = 0;
constexpr long kExcelId = 1;
constexpr long kGetSettingId = 2;

Ref root_proxy(PyObject* module, long object_id, const char* type_name) {
    Ref cls = lookup_global(module, N.OfficeJsObject);
    Ref id = Ref::steal(PyLong_FromLong(object_id));
    Ref name = Ref::steal(PyUnicode_FromString(type_name));
    Ref kwnames = Ref::steal(Py_BuildValue("(ss)", "object_id", "type_name"));
    PyObject* args[] = {id.get(), name.get()};
    return Ref::steal(PyObject_Vectorcall(cls.get(), args, 0, kwnames.get()));
}

void build(PyObject* module) {
    N.intern_all();

    // The libraries, all required.
    support::bind_import(module, "base64", "base64");
    support::bind_import(module, "concurrent.futures", "concurrent");
    support::bind_import(module, "datetime", "dt");
    support::bind_import(module, "threading", "threading");
    support::bind_import(module, "uuid", "uuid");
    support::bind_import(module, "pandas", "pd");
    support::bind_import(module, "numpy", "np");
    for (const char* name : {"Any", "Dict"}) support::bind_from(module, "typing", name);
    init_cache(module);

    // The classes and the operation functions.
    Ref serializer = make_serializer_class(module);
    support::set_global(module, "Serializer", serializer.get());
    Ref messaging_class = make_messaging_class(module);
    support::set_global(module, "Messaging", messaging_class.get());
    add_operations(module);
    Ref names = Ref::steal(Py_BuildValue(
        "[ssssssssss]", "_cw__getattr__", "_cw__getitem__", "_cw__setattr__", "_cw__call__",
        "_cw__del__", "__getattr__", "__getitem__", "__setattr__", "__call__", "__del__"));
    support::set_global(module, "_internal_officejs_names", names.get());
    Ref object_class = make_object_class(module);
    support::set_global(module, "OfficeJsObject", object_class.get());
    Ref array_class = make_array_class(module);
    support::set_global(module, "OfficeJsArray", array_class.get());
    Ref dict_class = make_dict_class(module);
    support::set_global(module, "OfficeJsDict", dict_class.get());

    // The messaging instance, then the root proxies stamped with its context id.
    Ref messaging = Ref::steal(PyObject_CallNoArgs(messaging_class.get()));
    support::set_global(module, "messaging", messaging.get());
    Ref context = root_proxy(module, kContextId, "RequestContext");
    support::set_global(module, "Context", context.get());
    Ref excel = root_proxy(module, kExcelId, "Excel");
    support::set_global(module, "Excel", excel.get());
    Ref get_setting = root_proxy(module, kGetSettingId, "Function");
    support::set_global(module, "GetSetting", get_setting.get());

    register_copying(module, object_class.get(), array_class.get(), dict_class.get());
}

const support::ModuleSpec module_spec{"ostrel", kDoc, build, forget_state};

}  // namespace
}  // namespace ostrel

PyMODINIT_FUNC PyInit_ostrel() { return support::module_init(ostrel::module_spec); }
