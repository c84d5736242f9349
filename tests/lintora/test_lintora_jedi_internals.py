"""The completion cache keys items on attributes of jedi that are not its public API. pyproject
bounds jedi to the versions tested; this test is the check to run before raising that bound: each
attribute the module reads, on the kind of object it reads it from, named when it is gone."""
import os
import re

import jedi
import jedi.api.classes
import jedi.inference.names
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Every non-public jedi attribute the module reads, as spelled in its name table.
READ = {
    "_name",
    "_wrapped_name",
    "_from_module_context",
    "_apply_decorators",
    "_cached_name",
    "tree_name",
    "tree_node",
    "get_root_context",
    "py__file__",
}


def require(obj, attribute, where):
    if not hasattr(obj, attribute):
        pytest.fail(
            f"jedi {jedi.__version__} no longer has {attribute!r} on {where} "
            f"({type(obj).__module__}.{type(obj).__qualname__}): the completion cache must "
            "be brought up to date before jedi's upper bound is raised"
        )
    return getattr(obj, attribute)


def complete(code):
    lines = code.split("\n")
    return jedi.Script(code, path="probe.py").complete(len(lines), len(lines[-1]))


def first(completions, name):
    for completion in completions:
        if completion.name == name:
            return completion
    pytest.fail(f"jedi offers no {name!r} here any more; the probe itself needs mending")


def test_the_list_names_every_jedi_attribute_of_the_name_table():
    # The name table marks jedi's internals with a j_ prefix; a new read must be added above.
    with open(os.path.join(ROOT, "src", "lintora", "common.hpp"), encoding="utf-8") as f:
        table = set(re.findall(r'X\(j_\w+,\s*"([^"]+)"\)', f.read()))
    assert table == READ


def test_a_library_name_is_read_through_its_tree_name_and_root_context():
    completion = first(complete("import json\njson.du"), "dumps")
    assert isinstance(completion, jedi.api.classes.Completion)
    require(completion, "_cached_name", "a completion")
    name = require(completion, "_name", "a completion")
    assert require(name, "tree_name", "a definition's name") is not None
    context = require(name, "get_root_context", "a definition's name")()
    assert str(require(context, "py__file__", "a module context")()).endswith(".pyi")


def test_a_submodule_is_read_through_its_parent_module_context():
    name = require(first(complete("import xml."), "dom"), "_name", "a completion")
    assert name.tree_name is None
    parent = require(name, "_from_module_context", "a submodule's name")
    assert require(parent, "tree_node", "a module context") is not None
    require(parent, "get_root_context", "a module context")


def test_class_members_and_wrapped_names_carry_their_flags():
    name = first(complete("import collections\ncollections.OrderedDict.cl"), "clear")._name
    assert require(name, "_apply_decorators", "a class member's name") in (True, False)
    # Name wrappers forward every other attribute to the name they wrap; the cache tells them
    # apart by this one.
    wrapped = jedi.inference.names.NameWrapper(name)
    assert require(wrapped, "_wrapped_name", "a name wrapper") is name
