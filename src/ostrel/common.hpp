// What the bridge's files share: the support layer's names as they use them, and the error text
// of a failed response.
#pragma once

#include "ostrel/state.hpp"
#include "support/args.hpp"
#include "support/call.hpp"
#include "support/function.hpp"
#include "support/guard.hpp"
#include "support/iterate.hpp"
#include "support/lock.hpp"
#include "support/namespace.hpp"
#include "support/ref.hpp"
#include "support/values.hpp"

namespace ostrel {

using support::ArgType;
using support::ArgValues;
using support::call_method;
using support::Default;
using support::equals;
using support::FunctionDef;
using support::get_attr;
using support::ignore_exception;
using support::iterate;
using support::lookup_global;
using support::make_dict;
using support::mapping_get;
using support::Param;
using support::Ref;
using support::set_attr;
using support::set_item;
using support::str_in;
using support::with_lock;

// The text of a failed response's `error`: its `message` when `error` is a mapping (else
// `fallback`), the string itself when it is a non-empty str, `fallback` otherwise (absent, None,
// a number, an empty string). A response whose error is not a mapping must still fail its
// request with a readable text rather than break the code that reads it.
Ref error_text(PyObject* error, PyObject* fallback);

}  // namespace ostrel
