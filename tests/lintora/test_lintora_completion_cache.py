"""The per-item answers a Lintora keeps for library names: the same items as jedi's own answers,
fresh answers for the buffer and the user's modules, emptied with the search path and on cleanup,
held within their bound and dropped with the instance."""
import gc
import weakref

import jedi
import jedi.api.classes
import pytest

# Buffers whose items come from numpy, pandas, the standard library, a synced user module and
# the buffer itself; each ends at the cursor.
CORPUS = [
    "from numpy import ",
    "import numpy as np\nnp.",
    "import numpy as np\nnp.ar",
    "import pandas as pd\npd.",
    "import pandas as pd\ndf = pd.DataFrame()\ndf.",
    "import os\nos.path.",
    "from collections import ",
    "import collections\ncollections.OrderedDict.",
    "import json\njson.dumps(",
    "x = [1]\nx.",
    "pri",
    "import shop\nshop.",
    "import shop\nshop.Basket().",
    "def local_helper(a, b=1):\n    'Helps locally.'\nlocal_",
]
SHOP = (
    "class Basket:\n"
    "    '''Holds items.'''\n"
    "    def add(self, item, count=1):\n"
    "        '''Adds an item.'''\n"
    "def total(basket):\n"
    "    '''Sums the basket.'''\n"
)


def end_of(code):
    lines = code.split("\n")
    return len(lines), len(lines[-1])


@pytest.fixture
def computed(monkeypatch):
    """Counts the items whose documentation jedi is asked for: the items not served from a cache."""
    counter = {"n": 0}
    original = jedi.api.classes.Completion.docstring

    def docstring(self, *args, **kwargs):
        counter["n"] += 1
        return original(self, *args, **kwargs)

    monkeypatch.setattr(jedi.api.classes.Completion, "docstring", docstring)
    return counter


def comparable(item):
    # jedi lists the overloads heading some docstrings, and the texts of a name with several
    # values, in an order (and with repeats) that vary from call to call; the texts do not.
    doc = item.get("documentation")
    if doc is None:
        return item
    heading, _, body = doc.partition("\n\n")
    return dict(item, documentation=(sorted(set(heading.splitlines())), sorted(set(body.split("\n" + "-" * 30 + "\n")))))


def test_cached_items_equal_a_fresh_instances(lintora):
    warm, cold = lintora.Lintora(), lintora.Lintora()
    try:
        for lsp in (warm, cold):
            lsp.update_sys_paths([])
            lsp.sync_modules({"shop": SHOP})
        for code in CORPUS:
            warm.get_completions(code, *end_of(code))
        for code in CORPUS:
            cached = warm.get_completions(code, *end_of(code))
            cold.update_sys_paths([])  # empties its cache: its answer is computed afresh
            fresh = cold.get_completions(code, *end_of(code))
            assert cached["error"] is None and fresh["error"] is None, code
            if code == "from numpy import ":
                # jedi takes these names from numpy's stub in one request and from its module in
                # the next, cached or not: only the names can be compared.
                assert [i["label"] for i in cached["completions"]] == [i["label"] for i in fresh["completions"]]
                continue
            assert [list(i) for i in cached["completions"]] == [list(i) for i in fresh["completions"]], code
            assert [comparable(i) for i in cached["completions"]] == [comparable(i) for i in fresh["completions"]], code
    finally:
        warm.cleanup()
        cold.cleanup()


def test_user_modules_and_the_buffer_are_always_asked_afresh(lsp, computed):
    code = "import shop\nshop."
    old, new = SHOP, SHOP.replace("Sums the basket.", "Totals it all up")
    assert len(old) == len(new)  # same size, and likely the same mtime: only the text tells them apart
    lsp.sync_modules({"shop": old})
    docs = {i["label"]: i["documentation"] for i in lsp.get_completions(code, 2, 5)["completions"]}
    assert "Sums the basket." in docs["total"]
    lsp.sync_modules({"shop": new})
    docs = {i["label"]: i["documentation"] for i in lsp.get_completions(code, 2, 5)["completions"]}
    assert "Totals it all up" in docs["total"]

    def buffer_doc(text):
        code = f"def zz_helper():\n    '{text}'\nzz_h"
        return lsp.get_completions(code, 3, 4, "shop")["completions"][0]["documentation"]

    assert "first words" in buffer_doc("first words") and "other words" in buffer_doc("other words")
    computed["n"] = 0
    items = lsp.get_completions(code, 2, 5)["completions"]
    assert computed["n"] == len(items) > 0


def test_update_sys_paths_and_cleanup_empty_the_cache(lsp, computed):
    code = "import json\njson."
    lsp.get_completions(code, 2, 5)
    computed["n"] = 0
    lsp.get_completions(code, 2, 5)
    assert computed["n"] == 0
    lsp.update_sys_paths([])
    lsp.get_completions(code, 2, 5)
    assert computed["n"] > 0
    computed["n"] = 0
    lsp.cleanup()
    lsp.get_completions(code, 2, 5)
    assert computed["n"] > 0


def test_adding_a_user_module_empties_the_cache(lsp, computed):
    # A user module can shadow a library module that library names resolve through.
    code = "import json\njson."
    lsp.get_completions(code, 2, 5)
    computed["n"] = 0
    lsp.sync_modules({"notes": "x = 1"})
    lsp.get_completions(code, 2, 5)
    assert computed["n"] > 0


def test_the_cache_stays_within_its_bound(lsp, computed, tmp_path):
    # More names than the cache holds: the first ones are asked again, the last ones are not.
    count = 4200
    (tmp_path / "biglib.py").write_text("".join(f"def f{i:04d}():\n    'Number {i}.'\n" for i in range(count)))
    lsp.update_sys_paths([str(tmp_path)])
    items = lsp.get_completions("from biglib import ", 1, 19)["completions"]
    assert len(items) == count
    computed["n"] = 0
    assert len(lsp.get_completions("from biglib import f419", 1, 23)["completions"]) == 10
    assert computed["n"] == 0
    first = lsp.get_completions("from biglib import f000", 1, 23)["completions"]
    assert [i["documentation"] for i in first][:2] == ["f0000()\n\nNumber 0.", "f0001()\n\nNumber 1."]
    assert computed["n"] == 10


def test_the_cache_goes_with_its_instance(lintora):
    lsp = lintora.Lintora()
    lsp.get_completions("import json\njson.", 2, 5)
    gone = weakref.ref(lsp)
    lsp.cleanup()
    del lsp
    gc.collect()
    assert gone() is None
