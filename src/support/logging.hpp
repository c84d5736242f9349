// Logging calls from C++ into a Python logger, for the modules that log.
//
// Every call asks the logger whether the level is enabled first, so a dropped line costs one
// cheap call and nothing is formatted; callers that build costly arguments (a request summary,
// a sample list) check `log_enabled` themselves before building them.
#pragma once

#include <initializer_list>

#include "support/ref.hpp"

namespace support {

enum class LogLevel { Debug = 10, Info = 20, Warning = 30, Error = 40 };

// `logger.isEnabledFor(level)`; true when the logger has no such method (it then gets every line).
bool log_enabled(PyObject* logger, LogLevel level);

// `logger.<debug|info|warning|error>(fmt, *args[, exc_info=exc])` when enabled. `fmt` is the
// %-style format string; the arguments are passed for the logging module to format. A caught
// exception is passed as `exc_info` itself: C++ code has no 'exception being handled' for the
// logging module to find, so `exc_info=True` would log no traceback.
void log(PyObject* logger, LogLevel level, const char* fmt, std::initializer_list<PyObject*> args,
         PyObject* exc_info = nullptr);

// The same, skipping the enabled check (for callers that checked already).
void log_unchecked(PyObject* logger, LogLevel level, const char* fmt,
                   std::initializer_list<PyObject*> args, PyObject* exc_info = nullptr);

// `logger.<level>(message)` when enabled, for a message that is already a finished text object
// (built by concatenation): it is passed without arguments, so the logging module never applies
// %-formatting to it and a '%' in user text stays as it is.
void log_message(PyObject* logger, LogLevel level, PyObject* message);

}  // namespace support
