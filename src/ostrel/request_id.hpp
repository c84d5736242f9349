// Fresh ids for requests and contexts, in the form of `uuid.uuid4().hex`.
#pragma once

#include "ostrel/common.hpp"

namespace ostrel {

// 32 lowercase hex digits of a random version-4 UUID, made from `os.urandom(16)` here rather
// than through `uuid.UUID`, whose constructor is Python code and was a quarter of a round trip.
Ref new_hex_id();

}  // namespace ostrel
