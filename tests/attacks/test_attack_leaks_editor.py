"""The editor requests in a loop: no growth after warm-up in traced memory, and no references
kept to the texts and dicts passed in (jedi's own caches fill during the warm-up)."""
import logging
import sys

import jedi
import pytest

import attack_support
from attack_support import SANITIZED, report, size

ROUNDS = size(25, 200, sanitized=5)
# Requests that run only our own code keep nothing. jedi and pyflakes fill caches of their own
# for a long while (the same calls made from Python grow as much), so requests through them get
# a loose bound that still catches a leaked script, module or result per call.
PER_ROUND = 256
PER_ROUND_LIBRARY = 64 * 1024


@pytest.fixture(scope="module")
def lsp():
    from cellumo_master.python_server import lintora
    # Log records are still made (at every level), but go to a logger outside the hierarchy:
    # pytest's log capture would keep every one, and with it the request's arguments.
    saved_logger = lintora.logger
    quiet = logging.Logger("attack-quiet", logging.DEBUG)
    quiet.addHandler(logging.NullHandler())
    lintora.logger = quiet
    # jedi keeps call signatures for a few seconds and drops expired ones at the next request;
    # with no validity they expire at once, so that only what the request itself keeps counts
    validity = jedi.settings.call_signatures_validity
    jedi.settings.call_signatures_validity = 0.0
    instance = lintora.Lintora()
    try:
        yield instance
    finally:
        instance.cleanup()
        jedi.settings.call_signatures_validity = validity
        lintora.logger = saved_logger


def growth(op):
    return attack_support.growth(op, ROUNDS, warmup=ROUNDS)


CODE = "import os\nimport zz_missing\nfrom helper import twice\nx = twice(os.path.join('a', 'b'))\nos.path.jo"
HELPER = {"helper": "def twice(v):\n    '''Twice the value.'''\n    return v * 2\n"}
DIRTY = {"other": "y = 1\n"}
# A comment after a line the tokenizer gives up on, and a dict key whose insertText is adjusted.
COMMENTED = "s = 'open\nx = (1,  # Load the data."
KEYS = "d = {'alpha': 1}\nd['al"


LIBRARY = {"completions", "dict keys", "hover", "signature help", "diagnostics"}


@pytest.mark.parametrize("name, call", [
    ("completions", lambda l: l.get_completions(CODE, 5, 10, "main", HELPER, DIRTY)),
    ("comment", lambda l: l.get_completions(COMMENTED, 2, 25, "main", HELPER, DIRTY)),
    ("dict keys", lambda l: l.get_completions(KEYS, 2, 5, "main", HELPER, None)),
    ("hover", lambda l: l.get_hover(CODE, 4, 6, None, HELPER, None)),
    ("signature help", lambda l: l.get_signature_help(CODE, 4, 11, "<editor>", HELPER, DIRTY)),
    ("diagnostics", lambda l: l.get_diagnostics(CODE, "main")),
    ("failing request", lambda l: l.get_completions(CODE, 99, -5, "main", HELPER, None)),
    ("syntax error", lambda l: l.get_diagnostics("def f(:\n", None)),
    ("sync and delete", lambda l: (l.sync_modules(HELPER, DIRTY), l.delete_module("other"))),
    ("refused names", lambda l: l.sync_modules({"../x": "1", "a/b": 2}, None)),
    ("maintenance", lambda l: (l.set_hover_mode("detailed"), l.set_hover_mode("bogus"), l.set_hover_mode("compact"),
                               l._is_module_name("mod"), l.set_workspace("/nowhere"))),
    ("sys paths", lambda l: l.update_sys_paths(["/nowhere", "/nowhere"])),
    ("argument errors", lambda l: [_raises(lambda: l.get_hover(b"x", 1, 1)), _raises(lambda: l.sync_modules([]))]),
])
def test_no_growth(lsp, name, call):
    passed = [CODE, HELPER, DIRTY]
    counts = [sys.getrefcount(x) for x in passed]
    per_round = growth(lambda: call(lsp))
    bound = PER_ROUND_LIBRARY if name in LIBRARY else PER_ROUND
    if not SANITIZED:
        assert per_round < bound, f"{name}: {per_round:.0f} bytes kept per call"
    # A leak keeps one reference per call; jedi's caches may hold on to the latest request.
    kept = [sys.getrefcount(x) - n for x, n in zip(passed, counts)]
    assert max(kept) <= 2, f"{name}: references to its arguments kept: {kept}"
    report(f"editor leak check {name}", rounds=ROUNDS * 3, bytes_per_round=round(per_round, 1))


def _raises(fn):
    try:
        fn()
    except TypeError:
        return True
    return False
