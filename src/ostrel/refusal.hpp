// The TypeError that refuses a value without a cell meaning, and where the value stood.
//
// The position is learnt on the way out: the refusal is raised at the value itself, and each
// container or argument list that it passes through adds its own step, so that encoding pays
// nothing for it while it succeeds. The steps travel on the exception object (so they follow it
// through a replaced `Serializer.to_wire` written in Python) and the message is written again at
// each step, so it is complete wherever the exception leaves the encoder.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// Raises the TypeError for `value`, which stands at the top of what is being encoded.
[[noreturn]] void refuse_value(PyObject* value);

// Called with Python's error set, inside a catch: when that error is a refusal, records that the
// value stood at `index` of a list, under `key` of a dict, or in a call's argument list
// (`argument` 0-based, or `keyword`). Any other error is left as it is.
[[noreturn]] void note_index(Py_ssize_t index);
[[noreturn]] void note_key(PyObject* key);
[[noreturn]] void note_argument(Py_ssize_t argument);
[[noreturn]] void note_keyword(PyObject* keyword);

}  // namespace ostrel
