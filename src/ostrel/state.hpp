// What the bridge caches once at initialisation: interned strings for every key, tag and name it
// uses on the hot paths, and the library objects that are not late-bound (type objects for the
// encoder's isinstance tests, the Future class, os.urandom, base64 and datetime helpers).
//
// The module is initialised once per process and lives until the process ends, so these are
// plain strong references that are never released, except by `forget_state` after a failed
// initialisation.
#pragma once

#include "support/names.hpp"
#include "support/ref.hpp"

namespace ostrel {

// Interned strings (see support/names.hpp).
// clang-format off
#define OSTREL_NAMES(X)                                                                           \
    /* wire values */                                                                             \
    X(type, "type") X(value, "value") X(isSpec, "isSpec") X(id, "id")                             \
    X(Null, "Null") X(Bool, "Bool") X(Int, "Int") X(Float, "Float") X(String, "String")           \
    X(Date, "Date") X(Bytes, "Bytes") X(Array, "Array") X(Dict, "Dict")                           \
    X(Python_Function, "Python_Function")                                                         \
    /* request and response messages */                                                           \
    X(method, "method") X(name, "name") X(caller, "caller") X(args, "args")                       \
    X(arg_type, "arg_type") X(requestId, "requestId") X(kind, "kind") X(request, "request")       \
    X(ok, "ok") X(error, "error") X(code, "code") X(IndexOutOfRange, "IndexOutOfRange")          \
    X(Remote_error, "Remote error")                                                               \
    X(message, "message") X(result, "result") X(GET, "GET") X(GETITEM, "GETITEM") X(SET, "SET")   \
    X(CALL, "CALL") X(DEL, "DEL") X(PLACED, "PLACED") X(NAMED, "NAMED") X(Function, "Function")   \
    X(__call__, "__call__") X(__del__, "__del__") X(timeout, "timeout")                           \
    /* late-bound module globals */                                                               \
    X(messaging, "messaging") X(Serializer, "Serializer") X(OfficeJsObject, "OfficeJsObject")     \
    X(OfficeJsArray, "OfficeJsArray") X(OfficeJsDict, "OfficeJsDict") X(Context, "Context")       \
    X(Excel, "Excel") X(GetSetting, "GetSetting")                                                 \
    X(_internal_officejs_names, "_internal_officejs_names") X(_cw__getattr__, "_cw__getattr__")   \
    X(_cw__getitem__, "_cw__getitem__")                                                           \
    X(_cw__setattr__, "_cw__setattr__") X(_cw__call__, "_cw__call__")                             \
    X(_cw__del__, "_cw__del__")                                                                   \
    /* attributes and methods */                                                                  \
    X(_internal_id, "_internal_id") X(_internal_typeName, "_internal_typeName")                   \
    X(_msg_guid, "_msg_guid") X(_typ, "_typ") X(_internal_cache, "_internal_cache")               \
    X(waiters, "waiters")                                                                         \
    X(_waiters_lock, "_waiters_lock") X(_guid, "_guid") X(_send_handler, "_send_handler")         \
    X(loop, "loop") X(loop_thread, "loop_thread") X(_callable_registry, "_callable_registry")     \
    X(_callable_lock, "_callable_lock") X(_next_callable_id, "_next_callable_id")                 \
    X(send_request_sync, "send_request_sync") X(register_callable, "register_callable")           \
    X(send_request_nowait, "send_request_nowait") X(cancelled, "cancelled")                       \
    X(exception, "exception")           \
    X(to_wire, "to_wire")                                                                         \
    X(from_wire, "from_wire") X(acquire, "acquire") X(release, "release") X(cancel, "cancel")     \
    X(done, "done") X(set_result, "set_result") X(set_exception, "set_exception") X(get, "get")   \
    X(pop, "pop") X(clear, "clear") X(hex, "hex") X(tzinfo, "tzinfo")                             \
    X(astimezone, "astimezone") X(isoformat, "isoformat") X(to_frame, "to_frame")                 \
    X(columns, "columns") X(tolist, "tolist")                                                     \
    X(values, "values") X(items, "items") X(keys, "keys") X(extend, "extend")                     \
    X(update, "update") X(tb_frame, "tb_frame") X(tb_next, "tb_next") X(f_code, "f_code")         \
    X(co_name, "co_name")                                                                         \
    X(with_traceback, "with_traceback")                                                           \
    /* numpy and pandas values */                                                                 \
    X(dtype, "dtype") X(astype, "astype") X(ndim, "ndim")                                         \
    /* numbers and refusals */                                                                    \
    X(is_nan, "is_nan") X(repr, "repr") X(_ostrel_refusal, "_ostrel_refusal")                     \
    /* proxy kinds */                                                                             \
    X(officejs_object, "officejs_object") X(officejs_array, "officejs_array")                     \
    X(officejs_dict, "officejs_dict")
// clang-format on

SUPPORT_NAME_TABLE(Names, OSTREL_NAMES)

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
    PyObject* np_isnat = nullptr;
    // Numbers that are neither int nor float: a Decimal, and any numbers.Real (a Fraction).
    PyObject* decimal_Decimal = nullptr;
    PyObject* numbers_Real = nullptr;
    // Helpers.
    PyObject* utc = nullptr;            // datetime.timezone.utc
    PyObject* fromisoformat = nullptr;  // datetime.datetime.fromisoformat
    PyObject* b64encode = nullptr;
    PyObject* b64decode = nullptr;
    PyObject* empty_bytes = nullptr;
    PyObject* empty_str = nullptr;
    PyObject* urandom = nullptr;          // os.urandom, the source of request ids
    PyObject* Future = nullptr;           // concurrent.futures.Future
    PyObject* TimeoutError = nullptr;     // concurrent.futures.TimeoutError (the builtin)
    PyObject* new_lock = nullptr;         // threading.Lock
    PyObject* timeout_kwnames = nullptr;  // ("timeout",)
    // The error of a failed attribute read: both an AttributeError, so that hasattr, getattr with
    // a default and protocol probes see a missing attribute, and a RuntimeError, as every other
    // refusal of the add-in. Made here, not a module global: it is reached through its instances.
    PyObject* attribute_error = nullptr;
    // The error of a subscript past the end: an IndexError, so that Python's iteration protocol
    // ends a loop over a collection proxy and `except IndexError` works, and still a RuntimeError.
    PyObject* index_error = nullptr;
    // `reprlib.Repr(...).repr`, which shortens the single values that printing a collection shows.
    PyObject* short_repr = nullptr;
    // Our own function objects, so that recursion through the public static methods can skip
    // argument parsing while they are still the ones installed.
    PyObject* to_wire_fn = nullptr;
    PyObject* from_wire_fn = nullptr;
    // What resolving a Future that is already done raises (concurrent.futures.InvalidStateError).
    PyObject* InvalidStateError = nullptr;
};

extern Names N;
extern Cache C;

// Fills the cache from the imported modules (after the module's imports succeeded).
void init_cache(PyObject* module);
// Drops everything after a failed initialisation so that the next import starts afresh.
void forget_state();

}  // namespace ostrel
