"""Warm completion on big libraries against jedi's bare name list on the same buffer: once the
libraries are loaded and the per-item answers cached, a completion request should cost little more
than the names jedi must find anyway. The product's labels must be exactly jedi's names (private
ones hidden) before the times mean anything."""
import gc

import jedi

from cellumo_master.python_server.lintora import Lintora

from .report import ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": (15, 1), "quick": (5, 1), "smoke": (2, 1)}

LIBRARIES = [
    ("from numpy import ", "from numpy import "),
    ("np.", "import numpy as np\nnp."),
    ("pd.", "import pandas as pd\npd."),
    ("df.", "import pandas as pd\ndf = pd.DataFrame()\ndf."),
]
# The smoke run skips numpy and pandas: loading them into jedi alone takes many seconds.
STANDARD_LIBRARY = [
    ("from os import ", "from os import "),
    ("json.", "import json\njson."),
]

# Rounds over every buffer before sampling: jedi answers some library names from the stub in one
# request and from the module in the next, and each is cached when first seen.
WARM_ROUNDS = 3


def _end(code):
    lines = code.split("\n")
    return len(lines), len(lines[-1])


def names(project, code, line, column):
    script = jedi.Script(code=code, path="<editor>", project=project)
    return [c.name for c in script.complete(line=line, column=column)]


def run(size="full"):
    repeat, number = SIZES[size]
    cases = STANDARD_LIBRARY if size == "smoke" else LIBRARIES
    lt = Lintora()
    rows = []
    try:
        for _ in range(WARM_ROUNDS):
            for _, code in cases:
                lt.get_completions(code, *_end(code))
        gc.collect()
        gc.freeze()
        for label, code in cases:
            line, column = _end(code)
            project = lt._jedi_project
            fns = {
                "lintora": lambda: lt.get_completions(code, line, column),
                "names": lambda: names(project, code, line, column),
            }
            labels = [item["label"] for item in fns["lintora"]()["completions"]]
            public = [n for n in fns["names"]() if not n.startswith("_")]
            if not labels or labels != public:
                raise AssertionError(f"completion after {label!r}: the product's labels are not jedi's names")
            samples = compare(fns, repeat=repeat, number=number, warmup=1)
            p50 = {k: median(v) for k, v in samples.items()}
            rows.append(ratio_row(
                f"6 warm get_completions, {label}", "p50 lintora / jedi names", p50["lintora"] / p50["names"], 3,
                context=f"p50 {fmt_seconds(p50['lintora'])} vs {fmt_seconds(p50['names'])}, {len(labels)} items"))
    finally:
        gc.unfreeze()
        lt.cleanup()
    return rows
