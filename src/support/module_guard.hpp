// The single-initialisation module guard shared by both extension modules.
//
// Each module is initialised once per process and keeps one module object: importing it again
// (also after removal from sys.modules) and reloading it give back that same object untouched.
// Initialising any other module object raises
//   RuntimeError "Module '<name>' has already been imported. Re-initialisation is not supported."
// and loading into a second interpreter raises
//   ImportError "Interpreter change detected - this module can only be loaded into one interpreter
//   per process."
// A failed initialisation leaves nothing behind: the next import starts afresh.
#pragma once

#include "support/ref.hpp"

namespace support {

struct ModuleSpec {
    const char* name;                 // the module's own name, e.g. "ostrel"
    const char* doc;                  // module docstring
    void (*build)(PyObject* module);  // fills the module; throws PyErrorSet on failure
    void (*forget)();  // drops module-level caches after a failed build (may be null)
};

// Returns what PyInit_<name> must return. `spec` must have static storage. Call once per
// extension module (the guard's state lives in the extension's own copy of this library).
PyObject* module_init(const ModuleSpec& spec);

}  // namespace support
