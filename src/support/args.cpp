// The argument rule: one parser over vectorcall arguments for every callable of both modules.
#include "support/args.hpp"

#include "support/values.hpp"

#include <cstring>
#include <string>

namespace support {

Signature::Signature(const char* func_name, const Param* params, std::size_t count, bool varargs,
                     bool varkw)
    : func_name_(func_name), params_(params, params + count), varargs_(varargs), varkw_(varkw) {
    for (const Param& p : params_) {
        if (p.def == Default::Required) ++required_;
    }
}

const char* Signature::defect() const {
    for (const Param& p : params_) {
        if (p.def == Default::Value && p.type != ArgType::Float) {
            return "only a float parameter may have a numeric default";
        }
    }
    return nullptr;
}

PyObject* Signature::interned_name(std::size_t i) const {
    if (names_.empty()) {
        std::vector<PyObject*> names;
        for (const Param& p : params_) {
            PyObject* s = PyUnicode_InternFromString(p.name);
            if (!s) {
                for (PyObject* n : names) Py_DECREF(n);
                throw_error();
            }
            names.push_back(s);
        }
        names_ = std::move(names);
    }
    return names_[i];
}

const char* Signature::text_signature() const {
    if (text_.empty()) {
        std::string s = "(";
        for (std::size_t i = 0; i < params_.size(); ++i) {
            if (i) s += ", ";
            s += params_[i].name;
            if (params_[i].def == Default::None) {
                s += "=None";
            } else if (params_[i].def == Default::Value) {
                std::string v = std::to_string(params_[i].value);
                while (v.size() > 1 && v.back() == '0' && v[v.size() - 2] != '.') v.pop_back();
                s += "=" + v;
            }
        }
        if (varargs_) s += params_.empty() ? "*args" : ", *args";
        if (varkw_) s += (params_.empty() && !varargs_) ? "**kwargs" : ", **kwargs";
        s += ")";
        text_.assign(s.begin(), s.end());
        text_.push_back('\0');
    }
    return text_.data();
}

namespace {

[[noreturn]] void raise_count(const Signature& sig, Py_ssize_t found) {
    const Py_ssize_t num_min = static_cast<Py_ssize_t>(sig.required());
    const Py_ssize_t num_max = static_cast<Py_ssize_t>(sig.size());
    const bool exact = num_min == num_max && !sig.varargs();
    Py_ssize_t expected;
    const char* more_or_less;
    if (found < num_min) {
        expected = num_min;
        more_or_less = "at least";
    } else {
        expected = num_max;
        more_or_less = "at most";
    }
    if (exact) more_or_less = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 sig.func_name(), more_or_less, expected, expected == 1 ? "" : "s", found);
    throw_error();
}

// Converts and checks one given value in place.
void convert(const Signature& sig, std::size_t i, PyObject*& value, Ref& owned, double& dbl) {
    const Param& p = sig.param(i);
    switch (p.type) {
        case ArgType::Any:
            return;
        case ArgType::Str:
        case ArgType::Dict:
        case ArgType::List: {
            PyTypeObject* want = p.type == ArgType::Str    ? &PyUnicode_Type
                                 : p.type == ArgType::Dict ? &PyDict_Type
                                                           : &PyList_Type;
            if (Py_IS_TYPE(value, want)) return;
            if (value == Py_None && p.def == Default::None) return;
            raise_arg_type(p.name, want, value);
        }
        case ArgType::Int: {
            if (PyLong_CheckExact(value)) return;
            if (value == Py_None && p.def == Default::None) return;
            if (!PyNumber_Check(value)) raise_arg_type(p.name, &PyLong_Type, value);
            owned = Ref::steal(PyNumber_Long(value));
            value = owned.get();
            return;
        }
        case ArgType::Float: {
            if (value == Py_None && p.def == Default::None) return;
            if (PyFloat_CheckExact(value)) {
                dbl = PyFloat_AS_DOUBLE(value);
                return;
            }
            double d = PyFloat_AsDouble(value);
            if (d == -1.0 && PyErr_Occurred()) throw_error();
            dbl = d;
            return;
        }
    }
}

}  // namespace

[[noreturn]] void raise_arg_type(const char* param, PyTypeObject* expected, PyObject* got) {
    Ref got_name = Ref::steal(PyType_GetName(Py_TYPE(got)));
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200U)", param,
                 expected->tp_name, got_name.get());
    if (PyObject_TypeCheck(got, expected)) {
        CaughtError err;
        Ref note = Ref::steal(PyUnicode_FromFormat(
            "Subclasses of built-in types are refused here: pass an exact %s.", expected->tp_name));
        Ref res = Ref::steal(PyObject_CallMethod(err.get(), "add_note", "O", note.get()));
        err.rethrow();
    }
    throw_error();
}

void check_exact(const char* param, PyTypeObject* expected, PyObject* value) {
    if (!Py_IS_TYPE(value, expected)) raise_arg_type(param, expected, value);
}

void parse_args(const Signature& sig, PyObject* const* args, std::size_t nargsf, PyObject* kwnames,
                ArgValues& out) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const std::size_t nparams = sig.size();
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    out.count_ = nparams;

    // Positional arguments: too many is the first error of all. `nargs` is never negative, and
    // the parameter count is at most kMaxParams, so both fit either type.
    const Py_ssize_t max_positional = static_cast<Py_ssize_t>(nparams);
    if (nargs > max_positional && !sig.varargs()) raise_count(sig, nargs);
    const Py_ssize_t given = nargs < max_positional ? nargs : max_positional;
    const std::size_t npos = static_cast<std::size_t>(given);
    for (std::size_t i = 0; i < npos; ++i) out.values_[i] = args[i];
    if (sig.varargs()) {
        out.varargs_ = Ref::steal(PyTuple_New(nargs - given));
        for (Py_ssize_t j = given; j < nargs; ++j) {
            PyTuple_SET_ITEM(out.varargs_.get(), j - given, Py_NewRef(args[j]));
        }
    }

    // Keyword arguments fill the remaining parameters in order; the first required one that is
    // still missing ends the call with the count error, naming how many were found before it.
    Py_ssize_t kw_used = 0;
    for (std::size_t i = npos; i < nparams; ++i) {
        PyObject* found = nullptr;
        if (nkw) {
            PyObject* name = sig.interned_name(i);
            for (Py_ssize_t k = 0; k < nkw; ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                if (PyUnicode_Check(key) && same_str(key, name)) {
                    found = args[nargs + k];
                    ++kw_used;
                    break;
                }
            }
        }
        if (found) {
            out.values_[i] = found;
            continue;
        }
        const Param& p = sig.param(i);
        switch (p.def) {
            case Default::Required:
                raise_count(sig, static_cast<Py_ssize_t>(i));
            case Default::None:
                out.values_[i] = Py_None;
                break;
            case Default::Value:
                out.owned_[i] = Ref::steal(PyFloat_FromDouble(p.value));
                out.values_[i] = out.owned_[i].get();
                out.doubles_[i] = p.value;
                break;
        }
    }

    // Keywords that matched nothing: a non-str key, a parameter already given by position, or
    // an unknown name (collected into **kwargs when the signature has it).
    if (kw_used < nkw) {
        if (sig.varkw()) out.varkw_ = Ref::steal(PyDict_New());
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.func_name());
                throw_error();
            }
            std::size_t idx = nparams;
            for (std::size_t i = 0; i < nparams; ++i) {
                if (same_str(key, sig.interned_name(i))) {
                    idx = i;
                    break;
                }
            }
            if (idx >= npos && idx < nparams) continue;  // consumed above
            if (idx < npos) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                             sig.func_name(), key);
                throw_error();
            }
            if (!sig.varkw()) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                             sig.func_name(), key);
                throw_error();
            }
            check(PyDict_SetItem(out.varkw_.get(), key, args[nargs + k]));
        }
    } else if (sig.varkw()) {
        out.varkw_ = Ref::steal(PyDict_New());
    }

    // Declared types, in parameter order, once every value is known.
    for (std::size_t i = 0; i < nparams; ++i) {
        convert(sig, i, out.values_[i], out.owned_[i], out.doubles_[i]);
    }
}

}  // namespace support
