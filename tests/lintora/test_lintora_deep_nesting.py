"""Buffers that make the parsers recurse deeply give a result (normal or error), never a crash."""
import json
import textwrap


def test_deeply_nested_buffers(run_python):
    proc = run_python(textwrap.dedent("""
        import json
        from cellumo_master.python_server import lintora
        lsp = lintora.Lintora()
        buffers = {
            "parens": "x = " + "(" * 5000 + "1" + ")" * 5000 + "\\n",
            "brackets": "x = " + "[" * 10000 + "\\n",
            "calls": "x = " + "f(" * 3000 + ")" * 3000 + "\\n",
            "chain": "x = " + "+".join(["a"] * 50000) + "\\n",
            "medium_chain": "x = " + "+".join(["a"] * 1500) + "\\n",
            "blocks": "".join("    " * i + "if a:\\n" for i in range(100)) + "    " * 100 + "pass\\n",
        }
        out = {}
        for name, code in buffers.items():
            for method in ("get_completions", "get_hover", "get_signature_help"):
                result = getattr(lsp, method)(code, 1, 5)
                out[f"{name} {method}"] = [list(result), type(result["error"]).__name__]
            result = lsp.get_diagnostics(code)
            out[f"{name} get_diagnostics"] = [list(result), type(result["error"]).__name__]
            out[f"{name} imports"] = type(lsp._check_unresolved_imports(code)).__name__
            out[f"{name} pyflakes"] = type(lsp._run_pyflakes(code, "<editor>")).__name__
        lsp.cleanup()
        print(json.dumps(out))
    """), timeout=300)
    assert proc.returncode == 0, proc.stderr[-3000:]
    out = json.loads(proc.stdout.strip().splitlines()[-1])
    keys = {"get_completions": ["completions", "error"], "get_hover": ["contents", "error"],
            "get_signature_help": ["signatures", "activeSignature", "activeParameter", "error"],
            "get_diagnostics": ["diagnostics", "error"]}
    assert len(out) == 6 * 6
    for label, value in out.items():
        method = label.split()[1]
        if method in keys:
            assert value[0] == keys[method] and value[1] in ("NoneType", "str"), label
        else:
            assert value == "list", label
