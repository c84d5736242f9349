// Copies of the proxies, registered with the standard library's copy and pickle machinery by
// exact class, so that the classes keep exactly their own members and the module its globals.
//
// An array or dictionary proxy copies (and pickles) as the plain list or dict of its local
// contents, and a deep copy is plain all the way down: a second proxy for the same remote id
// would release the original's object when it is finalised. An object proxy has no contents of
// its own to copy, so copying or pickling one is refused.
#include "ostrel/common.hpp"
#include "ostrel/parts.hpp"
#include "support/function.hpp"

namespace ostrel {
namespace {

PyObject* type_object(PyTypeObject* t) { return reinterpret_cast<PyObject*>(t); }

// (list, (), None, the items): what `copy` and `pickle` rebuild as a plain list.
Ref reduce_array_impl(PyObject*, const ArgValues& a) {
    Ref items = Ref::steal(PyObject_GetIter(a[0]));
    Ref no_args = Ref::steal(PyTuple_New(0));
    return Ref::steal(
        PyTuple_Pack(4, type_object(&PyList_Type), no_args.get(), Py_None, items.get()));
}

// (dict, (), None, None, the entries): rebuilt as a plain dict.
Ref reduce_dict_impl(PyObject*, const ArgValues& a) {
    if (!PyDict_Check(a[0])) support::raise(PyExc_TypeError, "expected a dictionary proxy");
    Ref pairs = Ref::steal(PyDict_Items(a[0]));
    Ref entries = Ref::steal(PyObject_GetIter(pairs.get()));
    Ref no_args = Ref::steal(PyTuple_New(0));
    return Ref::steal(
        PyTuple_Pack(5, type_object(&PyDict_Type), no_args.get(), Py_None, Py_None, entries.get()));
}

// The reductor of an object proxy: copy, deepcopy and pickle all end here.
Ref refuse_impl(PyObject*, const ArgValues& a) {
    PyErr_Format(
        PyExc_TypeError,
        "cannot copy or pickle '%s' object: it is a handle to a live object in Excel, not a "
        "value, and a second handle would release that object when finalised; copy the "
        "values read through it instead",
        Py_TYPE(a[0])->tp_name);
    support::throw_error();
}

const FunctionDef reduce_array_def{
    "copy_array", nullptr, nullptr, {"copy_array", {Param{"proxy"}}}, reduce_array_impl};
const FunctionDef reduce_dict_def{
    "copy_dict", nullptr, nullptr, {"copy_dict", {Param{"proxy"}}}, reduce_dict_impl};
const FunctionDef refuse_def{
    "refuse_copy", nullptr, nullptr, {"refuse_copy", {Param{"proxy"}}}, refuse_impl};

}  // namespace

void register_copying(PyObject* module, PyObject* object_class, PyObject* array_class,
                      PyObject* dict_class) {
    Ref reduce_array = support::make_function(module, reduce_array_def);
    Ref reduce_dict = support::make_function(module, reduce_dict_def);
    Ref refuse = support::make_function(module, refuse_def);

    // copyreg serves copy.copy, copy.deepcopy and pickle alike: deepcopy comes to it once the
    // instance has answered that it has no __deepcopy__, which the proxies answer locally.
    Ref copyreg = support::import_module("copyreg");
    Ref reductors = get_attr(copyreg.get(), "dispatch_table");
    set_item(reductors.get(), object_class, refuse.get());
    set_item(reductors.get(), array_class, reduce_array.get());
    set_item(reductors.get(), dict_class, reduce_dict.get());
}

}  // namespace ostrel
