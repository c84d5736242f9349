"""Everything the generator took from the Office.js definitions resolves through jedi, with the
right kind, and the add-in stand-in offers nothing the stubs do not know."""
import json
import os
import subprocess

import jedi
import pytest

from conftest import IMPORT

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MANIFEST = os.path.join(ROOT, "tools", "officejs_stubs", "manifest.json")

# Which jedi sees for each kind of member the generator writes.
KIND_OF = {"property": "property", "method": "function", "constant": "statement"}


def load_manifest():
    with open(MANIFEST, encoding="utf-8") as f:
        return json.load(f)


def resolve_types(lsp, names, per_script=8):
    """name -> what `Excel.<name>` infers to. A few types per script: jedi bounds the number of
    executions one script may run, and inferring a property executes its decorator."""
    first = IMPORT.count("\n") + 1
    for start in range(0, len(names), per_script):
        batch = names[start:start + per_script]
        code = IMPORT + "\n".join(f"Excel.{name}" for name in batch)
        script = jedi.Script(code=code, path="<editor>", project=lsp._jedi_project)
        for i, name in enumerate(batch):
            yield name, script.infer(first + i, len(f"Excel.{name}"))


def kind_of(name):
    if name.type == "statement":
        return "statement"
    return "property" if any(v.type == "property" for v in name.infer()) else name.type


def test_every_type_and_member_of_the_namespace_resolves(lsp):
    manifest = load_manifest()
    types = [t for t in manifest["types"] if t["namespace"] == "Excel"]
    problems = []
    resolved = dict(resolve_types(lsp, [t["name"] for t in types]))
    for entry in types:
        found = resolved[entry["name"]]
        if [d.type for d in found] != ["class"]:
            problems.append(f"Excel.{entry['name']} resolves to {found}")
            continue
        defined = {}
        for name in found[0].defined_names():
            defined.setdefault(name.name, kind_of(name))
        for member in entry["members"]:
            kind = defined.get(member["name"])
            if kind != KIND_OF[member["kind"]]:
                problems.append(f"Excel.{entry['name']}.{member['name']}: {member['kind']} seen as {kind}")
    functions = {c.name: c.type for c in jedi.Script(code=IMPORT + "Excel.", path="<editor>",
                                                     project=lsp._jedi_project).complete(2, 6)}
    for name in manifest["functions"]:
        if functions.get(name) != "function":
            problems.append(f"Excel.{name} is {functions.get(name)}")
    assert not problems, "\n".join(problems[:40])

    count = {kind: sum(t["kind"] == kind for t in manifest["types"]) for kind in ("class", "interface", "enum")}
    members = sum(len(t["members"]) for t in manifest["types"])
    print(f"\n{manifest['source']}: {len(manifest['types'])} types ({count['class']} classes, "
          f"{count['interface']} interfaces, {count['enum']} enums), {members} members, "
          f"{len(manifest['functions'])} functions")
    # The namespace as the published definitions have it; a generator that silently drops part
    # of it shows up here.
    assert count["class"] >= 190 and count["enum"] >= 170 and members >= 5000


# The stand-in's common base gives every object isNullObject and load; Office.js's namespace
# object, its request context and its event objects have no isNullObject, and only proxies of
# client objects have load.
BASE_ONLY = {("Excel", "isNullObject"), ("Excel", "load"), ("RequestContext", "isNullObject"),
             ("EventSource", "isNullObject"), ("EventSource", "load"),
             ("EventHandlerResult", "isNullObject"), ("EventHandlerResult", "load")}
# Where user code meets each type of the stand-in; by default a parameter annotated with it.
REACHED_BY = {
    "EventSource": "Context.workbook.worksheets.getItem('S').onChanged.",
    "EventHandlerResult": "Context.workbook.worksheets.getItem('S').onChanged.add(print).",
    "Excel": "Excel.",
}


def stand_in_members():
    from devkit.addin_process import find_node

    node = find_node()
    if node is None:
        pytest.skip("Node.js is not installed")
    out = subprocess.run([node, os.path.join(ROOT, "devkit", "addin", "members.js")], capture_output=True,
                         text=True, check=True, timeout=60).stdout
    return json.loads(out)


def test_the_stand_in_implements_nothing_the_stubs_lack(lsp):
    types = stand_in_members()
    types.pop("Function")  # GetSetting: the host's own function, typed in ostrel.pyi
    assert {"Workbook", "Worksheet", "Range", "RangeFont", "EventSource", "Excel"} <= set(types)
    problems = []
    for type_name, members in sorted(types.items()):
        body = REACHED_BY.get(type_name, f"def f(x: Excel.{type_name}):\n    x.")
        code = IMPORT + body
        lines = code.split("\n")
        script = jedi.Script(code=code, path="<editor>", project=lsp._jedi_project)
        stub = {c.name: c.type for c in script.complete(len(lines), len(lines[-1]))}
        for member, kind in members.items():
            if (type_name, member) in BASE_ONLY:
                continue
            expected = "property" if kind == "property" else "function"
            if stub.get(member) != expected:
                problems.append(f"{type_name}.{member}: the stand-in has a {kind}, the stubs {stub.get(member)}")
    assert not problems, "\n".join(problems)
