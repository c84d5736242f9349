// What the bridge caches once at initialisation: interned strings for every key, tag and name it
// uses on the hot paths, and the library objects that are not late-bound (type objects for the
// encoder's isinstance tests, the Future class, uuid4, base64 and datetime helpers).
//
// The module is initialised once per process and lives until the process ends, so these are
// plain strong references that are never released, except by `forget_state` after a failed
// initialisation.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// Interned strings; the member name is the text (all are valid identifiers).
#define OSTREL_NAMES(X)                                                                              \
    /* wire values */                                                                                \
    X(type) X(value) X(isSpec) X(id)                                                                 \
    X(Null) X(Bool) X(Int) X(Float) X(String) X(Date) X(Bytes) X(Array) X(Dict) X(Python_Function)  \
    /* request and response messages */                                                             \
    X(method) X(name) X(caller) X(args) X(arg_type) X(requestId) X(kind) X(request) X(ok) X(error)  \
    X(message) X(result) X(GET) X(GETITEM) X(SET) X(CALL) X(DEL) X(PLACED) X(NAMED) X(Function)    \
    X(__call__) X(__del__) X(timeout)                                                                \
    /* late-bound module globals */                                                                  \
    X(messaging) X(Serializer) X(OfficeJsObject) X(OfficeJsArray) X(OfficeJsDict) X(Context)        \
    X(Excel) X(GetSetting) X(_internal_officejs_names) X(_cw__getattr__) X(_cw__getitem__)          \
    X(_cw__setattr__) X(_cw__call__) X(_cw__del__)                                                   \
    /* attributes and methods */                                                                     \
    X(_internal_id) X(_internal_typeName) X(_msg_guid) X(_typ) X(_internal_cache) X(waiters)        \
    X(_waiters_lock) X(_guid) X(_send_handler) X(loop) X(loop_thread) X(_callable_registry)         \
    X(_callable_lock) X(_next_callable_id) X(send_request_sync) X(register_callable) X(to_wire)     \
    X(from_wire) X(acquire) X(release) X(cancel) X(done) X(set_result) X(set_exception) X(get)      \
    X(pop) X(clear) X(hex) X(tzinfo) X(astimezone) X(isoformat) X(to_frame) X(columns) X(tolist)   \
    X(values) X(items) X(keys) X(extend) X(update) X(tb_frame) X(tb_next) X(f_code) X(co_name)              \
    X(with_traceback)                                                                                \
    /* numpy and pandas values */                                                                    \
    X(dtype) X(astype) X(ndim)                                                                       \
    /* proxy kinds */                                                                                \
    X(officejs_object) X(officejs_array) X(officejs_dict)

struct Names {
#define OSTREL_DECLARE_NAME(n) PyObject* n = nullptr;
    OSTREL_NAMES(OSTREL_DECLARE_NAME)
#undef OSTREL_DECLARE_NAME
};

struct Cache {
    // Types the encoder tests with isinstance, in rule order.
    PyObject* np_bool = nullptr;
    PyObject* dt_datetime = nullptr;
    PyObject* dt_date = nullptr;
    PyObject* pd_Timestamp = nullptr;
    PyObject* np_datetime64 = nullptr;
    PyObject* pd_Series = nullptr;
    PyObject* pd_DataFrame = nullptr;
    // numpy values that no earlier rule takes, and the missing-value markers inside frames.
    PyObject* np_ndarray = nullptr;
    PyObject* np_generic = nullptr;
    PyObject* np_integer = nullptr;
    PyObject* np_floating = nullptr;
    PyObject* np_timedelta64 = nullptr;
    PyObject* pd_NA = nullptr;
    PyObject* pd_NaT = nullptr;
    PyObject* pd_isna = nullptr;
    // Helpers.
    PyObject* utc = nullptr;            // datetime.timezone.utc
    PyObject* fromisoformat = nullptr;  // datetime.datetime.fromisoformat
    PyObject* b64encode = nullptr;
    PyObject* b64decode = nullptr;
    PyObject* empty_bytes = nullptr;
    PyObject* empty_str = nullptr;
    PyObject* uuid4 = nullptr;
    PyObject* Future = nullptr;      // concurrent.futures.Future
    PyObject* TimeoutError = nullptr;  // concurrent.futures.TimeoutError (the builtin)
    PyObject* new_lock = nullptr;    // threading.Lock
    PyObject* timeout_kwnames = nullptr;  // ("timeout",)
    // The error of a failed attribute read: both an AttributeError, so that hasattr, getattr with
    // a default and protocol probes see a missing attribute, and a RuntimeError, as every other
    // refusal of the add-in. Made here, not a module global: it is reached through its instances.
    PyObject* attribute_error = nullptr;
    // Our own function objects, so that recursion through the public static methods can skip
    // argument parsing while they are still the ones installed.
    PyObject* to_wire_fn = nullptr;
    PyObject* from_wire_fn = nullptr;
};

extern Names N;
extern Cache C;

// Interns every name; call first during initialisation.
void init_names();
// Fills the cache from the imported modules (after the module's imports succeeded).
void init_cache(PyObject* module);
// Drops everything after a failed initialisation so that the next import starts afresh.
void forget_state();

}  // namespace ostrel
