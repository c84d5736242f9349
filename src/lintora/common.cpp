// The shared helpers of the editor language services (see common.hpp).
#include "lintora/common.hpp"

namespace lintora {

Names N;

Ref fenced_block(PyObject* body) {
    return Ref::steal(PyUnicode_FromFormat("```python\n%U\n```", body));
}

void lsp_log(PyObject* module, LogLevel level, const char* fmt,
             std::initializer_list<PyObject*> args, PyObject* exc_info) {
    Ref logger = lookup_global(module, N.g_logger);
    support::log(logger.get(), level, fmt, args, exc_info);
}

Ref logger_if_enabled(PyObject* module, LogLevel level) {
    Ref logger = lookup_global(module, N.g_logger);
    if (!support::log_enabled(logger.get(), level)) return Ref();
    return logger;
}

}  // namespace lintora
