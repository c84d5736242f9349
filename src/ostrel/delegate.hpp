// How the proxies' special methods reach the module's operation functions: looked up by name at
// each call, and with the bridge's own frames cut from the front of the traceback of any
// Exception they raise, so that user code sees its own line first.
#pragma once

#include <cstddef>

#include "support/ref.hpp"

namespace ostrel {

// `<function named fn_name>(*args)`, or, when `kwargs` is given, `fn(*args, **kwargs)`.
// `args` holds the positional arguments, the proxy first.
support::Ref delegate(PyObject* module, PyObject* fn_name, PyObject* const* args, std::size_t nargs,
                      PyObject* kwargs = nullptr);

}  // namespace ostrel
