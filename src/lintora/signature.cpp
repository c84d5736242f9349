// Signature help: the call around the cursor as Monaco's signature help, and the parameter-list
// text of a jedi signature that hover and completions also show.
#include "lintora/common.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

Ref signature_result(PyObject* signatures, PyObject* active_parameter, PyObject* error) {
    Ref zero = integer(0);
    return make_dict({{N.k_signatures, signatures},
                      {N.k_active_signature, zero.get()},
                      {N.k_active_parameter, active_parameter},
                      {N.k_error, error}});
}

Ref empty_result(PyObject* error) {
    Ref empty = new_list();
    Ref zero = integer(0);
    return signature_result(empty.get(), zero.get(), error);
}

Ref parameter_entries(PyObject* sig) {
    Ref params = new_list();
    Ref sig_params = get_attr(sig, N.params);
    for (Ref& param : iterate(sig_params.get())) {
        Ref label = get_attr(param.get(), N.name);
        Ref info = make_dict({{N.k_label, label.get()}});
        guard(
            {PyExc_AttributeError, PyExc_TypeError},
            [&] {
                Ref desc = get_attr(param.get(), N.description);
                if (truthy(desc.get())) set_item(info.get(), N.k_documentation, desc.get());
                return 0;
            },
            [](PyObject*) { return 0; });
        append(params.get(), info.get());
    }
    return params;
}

// jedi returns every overload of the callee and sets `index` only on those that accept the
// arguments typed so far; the first of those is the one to show, else the first overload.
Ref fitting_signature(PyObject* signatures) {
    for (Ref& sig : iterate(signatures)) {
        Ref index = get_attr(sig.get(), N.index);
        if (index.get() != Py_None) return std::move(sig);
    }
    Ref zero = integer(0);
    return Ref::steal(PyObject_GetItem(signatures, zero.get()));
}

Ref signature_body(PyObject* module, const ArgValues& a) {
    PyObject* self = a[cursor_arg::self];
    CursorScript prepared = prepare_cursor_script(module, a);
    PyObject* line = prepared.line.get();
    PyObject* column = prepared.column.get();
    Ref script = std::move(prepared.script);
    Ref signatures = call_at(script.get(), N.get_signatures, line, column);
    if (!truthy(signatures.get())) {
        lsp_log(module, LogLevel::Debug, "[LSP] No signatures found");
        return empty_result(Py_None);
    }
    Ref sig = fitting_signature(signatures.get());

    Ref params = parameter_entries(sig.get());
    Ref sig_label = call_method(self, N.m_format_signature, {sig.get()});
    Ref docstring = guard(
        {PyExc_AttributeError, PyExc_TypeError},
        [&] {
            return either(call_method(sig.get(), N.docstring, {}, {{N.raw, Py_True}}), N.s_empty);
        },
        [](PyObject*) { return Ref::borrow(N.s_empty); });
    Ref raw_name = get_attr(sig.get(), N.name);
    Ref sig_name = truthy(raw_name.get()) ? raw_name.dup() : Ref::borrow(N.s_function);
    Ref label = add(sig_name.get(), sig_label.get());
    Ref entry = make_dict({{N.k_label, label.get()},
                           {N.k_documentation, docstring.get()},
                           {N.k_parameters, params.get()}});
    Ref active = get_attr(sig.get(), N.index);
    if (active.get() == Py_None) active = integer(0);

    Ref list = new_list();
    append(list.get(), entry.get());
    Ref response = signature_result(list.get(), active.get(), Py_None);
    lsp_log(module, LogLevel::Debug, "[LSP] Signature help: %s, activeParam=%d",
            {raw_name.get(), active.get()});
    return response;
}

Ref get_signature_help_impl(PyObject* module, const ArgValues& a) {
    lsp_log(module, LogLevel::Debug,
            "[LSP] Request: get_signature_help line=%d, column=%d, path=%s",
            {a[cursor_arg::line], a[cursor_arg::column], a[cursor_arg::path]});
    return request_guard(
        module, "[LSP] Error in get_signature_help: %s", [&] { return signature_body(module, a); },
        [](PyObject* message) { return empty_result(message); });
}

// From the first "(" of jedi's signature text to its end; falls back to the parameters' own
// texts, then to "", for signature objects that lack what jedi's have.
Ref format_signature_impl(PyObject*, const ArgValues& a) {
    PyObject* signature = a[1];
    return guard(
        {PyExc_AttributeError, PyExc_TypeError},
        [&] {
            Ref full = call_method(signature, N.to_string, {});
            if (!PyUnicode_Check(full.get())) {
                PyErr_Format(PyExc_TypeError, "to_string() returned %.200s, not str",
                             Py_TYPE(full.get())->tp_name);
                support::throw_error();
            }
            const Py_ssize_t n = PyUnicode_GET_LENGTH(full.get());
            const Py_ssize_t paren = PyUnicode_FindChar(full.get(), '(', 0, n, 1);
            if (paren == -2) support::throw_error();
            if (paren < 0) return full;
            return Ref::steal(PyUnicode_Substring(full.get(), paren, n));
        },
        [&](PyObject*) {
            return guard(
                {PyExc_AttributeError, PyExc_TypeError},
                [&] {
                    Ref texts = new_list();
                    Ref params = get_attr(signature, N.params);
                    for (Ref& p : iterate(params.get())) {
                        Ref t = call_method(p.get(), N.to_string, {});
                        append(texts.get(), t.get());
                    }
                    Ref comma = text(", ");
                    Ref joined = Ref::steal(PyUnicode_Join(comma.get(), texts.get()));
                    return Ref::steal(PyUnicode_FromFormat("(%U)", joined.get()));
                },
                [](PyObject*) { return Ref::borrow(N.s_empty); });
        });
}

}  // namespace

const support::FunctionDef get_signature_help_def{
    "get_signature_help",
    "Lintora.get_signature_help",
    "Signature help for the call around the cursor, with the active parameter.",
    cursor_request_signature("get_signature_help"),
    get_signature_help_impl,
    cursor_request_annotations()};

const support::FunctionDef format_signature_def{
    "_format_signature",
    "Lintora._format_signature",
    "A jedi signature's parameter list from '(' on.",
    support::Signature("_format_signature", {{"self"}, {"signature"}}),
    format_signature_impl,
    {{"return", "str"}}};

}  // namespace lintora
