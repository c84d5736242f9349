"""The editor requests reduced to the library calls they must make: jedi for completions, hover and
signature help, ast, pyflakes and the import system for diagnostics. Each does what the product's
answer needs from the libraries, with nothing around it (no logging, no result records), so the
product's cost over these is its own."""
import ast
import importlib.util
import io
import os
import re
import sys

import jedi
from pyflakes import api as pyflakes_api
from pyflakes import reporter as pyflakes_reporter

_PREFIX = re.compile(r"[a-zA-Z_][a-zA-Z0-9_]*$")


def _signature_text(signature):
    text = signature.to_string()
    paren = text.find("(")
    return text[paren:] if paren >= 0 else text


def completions(project, code, line, column):
    script = jedi.Script(code=code, path="<editor>", project=project)
    prefix = _PREFIX.search(code.split("\n")[line - 1][:column])
    show_private = bool(prefix) and prefix.group().startswith("_")
    out = []
    for c in script.complete(line=line, column=column):
        name = c.name
        if not show_private and name.startswith("_"):
            continue
        detail = None
        if c.type == "function":
            signatures = c.get_signatures()
            if signatures:
                detail = _signature_text(signatures[0])
        c.get_completion_prefix_length()  # how much typed text jedi replaces: the item's insertText
        out.append((name, detail, c.docstring()))
    return out


def hover(project, code, line, column):
    # The product's default (compact) mode: no docstrings.
    script = jedi.Script(code=code, path="<editor>", project=project)
    parts = []
    for d in script.infer(line=line, column=column):
        kind = d.type
        if kind == "function":
            signatures = d.get_signatures()
            parts.append((d.name, _signature_text(signatures[0]) if signatures else ""))
        elif kind in ("class", "module"):
            parts.append((kind, d.name))
        else:
            parts.append((kind, d.name, d.description))
    if not parts:
        for h in script.help(line=line, column=column):
            parts.append((h.name, h.description, h.docstring()))
    return parts


def signature_help(project, code, line, column):
    script = jedi.Script(code=code, path="<editor>", project=project)
    signatures = script.get_signatures(line=line, column=column)
    if not signatures:
        return None
    # The overload that fits the arguments typed so far.
    sig = next((s for s in signatures if s.index is not None), signatures[0])
    params = [(p.name, p.description) for p in sig.params]
    return sig.name, _signature_text(sig), sig.docstring(raw=True), params, sig.index


def _resolvable(name, temp_dir):
    if name in sys.modules:
        return True
    if temp_dir is not None and os.path.exists(os.path.join(temp_dir, name + ".py")):
        return True
    try:
        return importlib.util.find_spec(name) is not None
    except (ImportError, ValueError, AttributeError):
        return False


def diagnostics(code, temp_dir, filename="<editor>"):
    """One parse for the syntax check and the import walk, pyflakes' own parse inside its check."""
    tree = ast.parse(code, filename=filename)
    warnings, errors = io.StringIO(), io.StringIO()
    pyflakes_api.check(code, filename, pyflakes_reporter.Reporter(warnings, errors))
    unresolved = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            unresolved += [a.name for a in node.names if not _resolvable(a.name, temp_dir)]
        elif isinstance(node, ast.ImportFrom) and node.module:
            if not _resolvable(node.module, temp_dir):
                unresolved.append(node.module)
    return warnings.getvalue(), errors.getvalue(), unresolved
