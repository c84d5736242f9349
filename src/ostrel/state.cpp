// Interned names and cached library objects of the bridge (see state.hpp).
#include "ostrel/state.hpp"

#include "support/namespace.hpp"

namespace ostrel {

Names N;
Cache C;

namespace {

// Takes a new reference into a cache slot.
void keep(PyObject*& slot, support::Ref value) { slot = value.release(); }

support::Ref attr(PyObject* obj, const char* name) {
    return support::Ref::steal(PyObject_GetAttrString(obj, name));
}

// `class OfficeJsAttributeError(AttributeError, RuntimeError)`, shown in tracebacks under the
// module's short name.
support::Ref make_attribute_error() {
    support::Ref bases = support::Ref::steal(PyTuple_Pack(2, PyExc_AttributeError, PyExc_RuntimeError));
    return support::Ref::steal(PyErr_NewExceptionWithDoc(
        "ostrel.OfficeJsAttributeError",
        "An attribute that the add-in does not have (or would not read) on an Office.js proxy.\n\n"
        "Both an AttributeError, as Python's data model expects of a missing attribute, and a\n"
        "RuntimeError, as every other failure that the add-in reports.",
        bases.get(), nullptr));
}

}  // namespace

void init_names() {
#define OSTREL_INTERN_NAME(n) \
    if (!N.n) N.n = support::intern(#n).release();
    OSTREL_NAMES(OSTREL_INTERN_NAME)
#undef OSTREL_INTERN_NAME
}

void init_cache(PyObject* module) {
    support::Ref np = attr(module, "np");
    support::Ref pd = attr(module, "pd");
    support::Ref dt = attr(module, "dt");
    support::Ref base64 = attr(module, "base64");
    support::Ref uuid = attr(module, "uuid");
    support::Ref concurrent = attr(module, "concurrent");
    support::Ref threading = attr(module, "threading");

    keep(C.np_bool, attr(np.get(), "bool_"));
    keep(C.dt_datetime, attr(dt.get(), "datetime"));
    keep(C.dt_date, attr(dt.get(), "date"));
    keep(C.pd_Timestamp, attr(pd.get(), "Timestamp"));
    keep(C.np_datetime64, attr(np.get(), "datetime64"));
    keep(C.pd_Series, attr(pd.get(), "Series"));
    keep(C.pd_DataFrame, attr(pd.get(), "DataFrame"));
    keep(C.np_ndarray, attr(np.get(), "ndarray"));
    keep(C.np_generic, attr(np.get(), "generic"));
    keep(C.np_integer, attr(np.get(), "integer"));
    keep(C.np_floating, attr(np.get(), "floating"));
    keep(C.np_timedelta64, attr(np.get(), "timedelta64"));
    keep(C.pd_NA, attr(pd.get(), "NA"));
    keep(C.pd_NaT, attr(pd.get(), "NaT"));
    keep(C.pd_isna, attr(pd.get(), "isna"));
    support::Ref timezone = attr(dt.get(), "timezone");
    keep(C.utc, attr(timezone.get(), "utc"));
    keep(C.fromisoformat, attr(C.dt_datetime, "fromisoformat"));
    keep(C.b64encode, attr(base64.get(), "b64encode"));
    keep(C.b64decode, attr(base64.get(), "b64decode"));
    keep(C.empty_bytes, support::Ref::steal(PyBytes_FromStringAndSize(nullptr, 0)));
    keep(C.empty_str, support::Ref::steal(PyUnicode_FromStringAndSize(nullptr, 0)));
    keep(C.uuid4, attr(uuid.get(), "uuid4"));
    support::Ref futures = attr(concurrent.get(), "futures");
    keep(C.Future, attr(futures.get(), "Future"));
    keep(C.TimeoutError, attr(futures.get(), "TimeoutError"));
    keep(C.new_lock, attr(threading.get(), "Lock"));
    keep(C.timeout_kwnames, support::Ref::steal(PyTuple_Pack(1, N.timeout)));
    keep(C.attribute_error, make_attribute_error());
}

void forget_state() {
    // Interned names stay: they carry no state of the failed attempt.
    PyObject** slots[] = {&C.np_bool,       &C.dt_datetime,   &C.dt_date,     &C.pd_Timestamp,
                          &C.np_datetime64, &C.pd_Series,     &C.pd_DataFrame, &C.utc,
                          &C.fromisoformat, &C.b64encode,     &C.b64decode,   &C.empty_bytes,
                          &C.empty_str,     &C.uuid4,         &C.Future,      &C.TimeoutError,
                          &C.new_lock,      &C.timeout_kwnames, &C.to_wire_fn, &C.from_wire_fn,
                          &C.attribute_error, &C.np_ndarray, &C.np_generic,  &C.np_integer,
                          &C.np_floating,   &C.np_timedelta64, &C.pd_NA,      &C.pd_NaT,
                          &C.pd_isna};
    for (PyObject** slot : slots) Py_CLEAR(*slot);
}

}  // namespace ostrel
