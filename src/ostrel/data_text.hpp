// What str() and print show of an array or dictionary proxy: its local data, written as a list or
// dict would write it. Nested proxies are shown by their data too, and long data is shortened the
// way reprlib shortens it, with the full length said; repr keeps the proxy's id for logs.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

support::Ref data_text(PyObject* module, PyObject* collection);

}  // namespace ostrel
