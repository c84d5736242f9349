// The argument rule shared by every method and module function of both modules.
//
// A callable declares its parameters once (a Signature); `parse_args` reads vectorcall arguments
// against it and either fills an ArgValues or raises the exact TypeError texts our callers see:
//   "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"   (exactly / at least / at most)
//   "%s() got an unexpected keyword argument '%U'"
//   "%s() got multiple values for keyword argument '%U'"
//   "%.200s() keywords must be strings"
//   "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)"
// Parsing happens before any body runs, so a refused call has logged, sent and changed nothing.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "support/ref.hpp"

namespace support {

// What a parameter accepts.
enum class ArgType {
    Any,    // any object, unchecked
    Str,    // exactly str (a subclass is refused, with a note)
    Dict,   // exactly dict
    List,   // exactly list
    Int,    // an exact int as is; another number converted as int() does
    Float,  // any real number (__float__ or __index__), converted to a C double
};

// What happens when a parameter is not given.
enum class Default {
    Required,
    None,   // defaults to None; a typed parameter (of any type) then also accepts None
    Value,  // a numeric default (Param::value); only a Float parameter may have one
};

struct Param {
    const char* name;
    ArgType type = ArgType::Any;
    Default def = Default::Required;
    double value = 0.0;
};

// The most parameters a signature may declare: ArgValues keeps its values in fixed arrays of
// this size (no allocation per call), so a longer signature does not compile.
constexpr std::size_t kMaxParams = 8;

class Signature {
public:
    // `func_name` is what the error texts call the callable (the bare method name). For methods,
    // `self` is declared as the first parameter like any other, so counts include it.
    template <std::size_t N>
    Signature(const char* func_name, const Param (&params)[N], bool varargs = false,
              bool varkw = false)
        : Signature(func_name, params, N, varargs, varkw) {
        static_assert(N <= kMaxParams, "a signature declares at most kMaxParams parameters");
    }
    // A callable without parameters (a module function taking nothing, *args or **kwargs only).
    explicit Signature(const char* func_name, bool varargs = false, bool varkw = false)
        : Signature(func_name, nullptr, 0, varargs, varkw) {}

    const char* func_name() const { return func_name_; }
    std::size_t size() const { return params_.size(); }
    const Param& param(std::size_t i) const { return params_[i]; }
    bool varargs() const { return varargs_; }
    bool varkw() const { return varkw_; }
    std::size_t required() const { return required_; }
    // Interned parameter names, made on first use (needs the GIL; kept for the process).
    PyObject* interned_name(std::size_t i) const;
    // "(self, name, value=None)" style text for __text_signature__.
    const char* text_signature() const;
    // Why this signature cannot be used (a numeric default on a parameter that is not Float),
    // or nullptr when it is sound. make_function refuses a defective signature.
    const char* defect() const;

private:
    Signature(const char* func_name, const Param* params, std::size_t count, bool varargs,
              bool varkw);

    const char* func_name_;
    std::vector<Param> params_;
    bool varargs_;
    bool varkw_;
    std::size_t required_ = 0;
    mutable std::vector<PyObject*> names_;
    mutable std::vector<char> text_;
};

// The parsed values of one call. Values are borrowed from the caller or owned here (for
// converted and default values); either way they live as long as this object.
class ArgValues {
public:
    // The value of parameter `i`; an index past the signature's parameters raises SystemError.
    PyObject* operator[](std::size_t i) const { return values_[checked(i)]; }
    // The converted value of a Float parameter (0.0 when it defaulted to None).
    double as_double(std::size_t i) const { return doubles_[checked(i)]; }
    bool is_none(std::size_t i) const { return values_[checked(i)] == Py_None; }
    // Extra positional arguments (a tuple) when the signature has *args, else nullptr.
    PyObject* varargs() const { return varargs_.get(); }
    // Extra keyword arguments (a new dict, possibly empty) when the signature has **kwargs.
    PyObject* varkw() const { return varkw_.get(); }

private:
    friend void parse_args(const Signature&, PyObject* const*, std::size_t, PyObject*, ArgValues&);
    std::size_t checked(std::size_t i) const {
        if (i >= count_) raise(PyExc_SystemError, "argument index out of range");
        return i;
    }
    std::size_t count_ = 0;
    PyObject* values_[kMaxParams] = {};
    Ref owned_[kMaxParams];
    double doubles_[kMaxParams] = {};
    Ref varargs_;
    Ref varkw_;
};

// Reads a vectorcall argument list against `sig`; throws PyErrorSet with the rule's TypeError.
void parse_args(const Signature& sig, PyObject* const* args, std::size_t nargsf, PyObject* kwnames,
                ArgValues& out);

// The incorrect-type TypeError of the rule, with the subclass note when it applies.
[[noreturn]] void raise_arg_type(const char* param, PyTypeObject* expected, PyObject* got);

// Checks one value against a declared type the way parse_args does (for values that reach a
// body by other roads, such as the items a recursive encoder hands to itself).
void check_exact(const char* param, PyTypeObject* expected, PyObject* value);

}  // namespace support
