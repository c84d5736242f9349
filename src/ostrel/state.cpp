// Interned names and cached library objects of the bridge (see state.hpp).
#include "ostrel/state.hpp"

#include "support/call.hpp"
#include "support/namespace.hpp"

namespace ostrel {

Names N;
Cache C;

namespace {

// Takes a new reference into a cache slot.
void keep(PyObject*& slot, support::Ref value) { slot = value.release(); }

// An exception class of the bridge that is both `kind` (what Python's protocols expect of the
// failure) and a RuntimeError (what every other failure that the add-in reports is), shown in
// tracebacks under the module's short name.
support::Ref make_add_in_error(const char* name, PyObject* kind, const char* doc) {
    support::Ref bases = support::Ref::steal(PyTuple_Pack(2, kind, PyExc_RuntimeError));
    return support::Ref::steal(PyErr_NewExceptionWithDoc(name, doc, bases.get(), nullptr));
}

// `class OfficeJsAttributeError(AttributeError, RuntimeError)`.
support::Ref make_attribute_error() {
    return make_add_in_error(
        "ostrel.OfficeJsAttributeError", PyExc_AttributeError,
        "An attribute that the add-in does not have (or would not read) on an Office.js proxy.\n\n"
        "Both an AttributeError, as Python's data model expects of a missing attribute, and a\n"
        "RuntimeError, as every other failure that the add-in reports.");
}

// `class OfficeJsIndexError(IndexError, RuntimeError)`, for a subscript the add-in reports as
// past the end of the collection.
support::Ref make_index_error() {
    return make_add_in_error(
        "ostrel.OfficeJsIndexError", PyExc_IndexError,
        "An index past the end of an Office.js collection.\n\n"
        "Both an IndexError, so that a for loop over the collection ends after its last item, and\n"
        "a RuntimeError, as every other failure that the add-in reports.");
}

// `reprlib.Repr(...).repr` with limits that keep a printed cell readable.
support::Ref make_short_repr() {
    support::Ref cls = support::import_from("reprlib", "Repr");
    support::Ref kwargs = support::Ref::steal(
        Py_BuildValue("{sisisisi}", "maxstring", 80, "maxother", 80, "maxlong", 80, "maxlevel", 3));
    support::Ref no_args = support::Ref::steal(PyTuple_New(0));
    support::Ref shortener =
        support::Ref::steal(PyObject_Call(cls.get(), no_args.get(), kwargs.get()));
    return support::get_attr(shortener.get(), "repr");
}

}  // namespace

void init_cache(PyObject* module) {
    support::Ref np = support::get_attr(module, "np");
    support::Ref pd = support::get_attr(module, "pd");
    support::Ref dt = support::get_attr(module, "dt");
    support::Ref base64 = support::get_attr(module, "base64");
    support::Ref concurrent = support::get_attr(module, "concurrent");
    support::Ref threading = support::get_attr(module, "threading");

    keep(C.np_bool, support::get_attr(np.get(), "bool_"));
    keep(C.dt_datetime, support::get_attr(dt.get(), "datetime"));
    keep(C.dt_date, support::get_attr(dt.get(), "date"));
    keep(C.pd_Timestamp, support::get_attr(pd.get(), "Timestamp"));
    keep(C.np_datetime64, support::get_attr(np.get(), "datetime64"));
    keep(C.pd_Series, support::get_attr(pd.get(), "Series"));
    keep(C.pd_DataFrame, support::get_attr(pd.get(), "DataFrame"));
    keep(C.np_ndarray, support::get_attr(np.get(), "ndarray"));
    keep(C.np_generic, support::get_attr(np.get(), "generic"));
    keep(C.np_integer, support::get_attr(np.get(), "integer"));
    keep(C.np_floating, support::get_attr(np.get(), "floating"));
    keep(C.np_timedelta64, support::get_attr(np.get(), "timedelta64"));
    keep(C.pd_NA, support::get_attr(pd.get(), "NA"));
    keep(C.pd_NaT, support::get_attr(pd.get(), "NaT"));
    keep(C.pd_isna, support::get_attr(pd.get(), "isna"));
    keep(C.np_isnat, support::get_attr(np.get(), "isnat"));
    keep(C.decimal_Decimal, support::import_from("decimal", "Decimal"));
    keep(C.numbers_Real, support::import_from("numbers", "Real"));
    support::Ref timezone = support::get_attr(dt.get(), "timezone");
    keep(C.utc, support::get_attr(timezone.get(), "utc"));
    keep(C.fromisoformat, support::get_attr(C.dt_datetime, "fromisoformat"));
    keep(C.b64encode, support::get_attr(base64.get(), "b64encode"));
    keep(C.b64decode, support::get_attr(base64.get(), "b64decode"));
    keep(C.empty_bytes, support::Ref::steal(PyBytes_FromStringAndSize(nullptr, 0)));
    keep(C.empty_str, support::Ref::steal(PyUnicode_FromStringAndSize(nullptr, 0)));
    keep(C.urandom, support::import_from("os", "urandom"));
    support::Ref futures = support::get_attr(concurrent.get(), "futures");
    keep(C.Future, support::get_attr(futures.get(), "Future"));
    keep(C.TimeoutError, support::get_attr(futures.get(), "TimeoutError"));
    keep(C.InvalidStateError, support::get_attr(futures.get(), "InvalidStateError"));
    keep(C.new_lock, support::get_attr(threading.get(), "Lock"));
    keep(C.timeout_kwnames, support::Ref::steal(PyTuple_Pack(1, N.timeout)));
    keep(C.attribute_error, make_attribute_error());
    keep(C.index_error, make_index_error());
    keep(C.short_repr, make_short_repr());
}

void forget_state() {
    // Interned names stay: they carry no state of the failed attempt.
    PyObject** slots[] = {&C.np_bool,
                          &C.dt_datetime,
                          &C.dt_date,
                          &C.pd_Timestamp,
                          &C.np_datetime64,
                          &C.pd_Series,
                          &C.pd_DataFrame,
                          &C.utc,
                          &C.fromisoformat,
                          &C.b64encode,
                          &C.b64decode,
                          &C.empty_bytes,
                          &C.empty_str,
                          &C.urandom,
                          &C.Future,
                          &C.TimeoutError,
                          &C.new_lock,
                          &C.timeout_kwnames,
                          &C.to_wire_fn,
                          &C.from_wire_fn,
                          &C.attribute_error,
                          &C.np_ndarray,
                          &C.np_generic,
                          &C.np_integer,
                          &C.np_floating,
                          &C.np_timedelta64,
                          &C.pd_NA,
                          &C.pd_NaT,
                          &C.pd_isna,
                          &C.np_isnat,
                          &C.decimal_Decimal,
                          &C.numbers_Real,
                          &C.index_error,
                          &C.short_repr,
                          &C.InvalidStateError};
    for (PyObject** slot : slots) Py_CLEAR(*slot);
}

}  // namespace ostrel
