"""The playground in Chromium against the bare request: from the keystroke "." to the suggestion
rows on screen, and from a keystroke to the updated markers, each side by side with the same
request made straight to a Lintora in this process. Their ratio is what the page adds: the HTTP
round trip, the server's hop to its editor thread, JSON both ways and Monaco's drawing.

Times are taken inside the page, from the keydown event to the animation frame after the rows
(or markers) are there, so Playwright's own messaging is not counted. The markers are asked for
after a pause in typing (the page's debounce); that pause is taken off before the ratio.

Then the first completions after the page says ready, on a freshly started playground that
warms its editor services and, beside it, on one that does not (--cold-editor).
"""
from cellumo_master.python_server.lintora import Lintora

from . import buffers
from .report import Row, ratio_row
from .timing import fmt_seconds, median, percentile

SIZES = {"full": 25, "quick": 9, "smoke": 2}
SECTION = "9 playground in Chromium"
HELPERS = "def table_of(totals):\n    return [[k, v] for k, v in totals.items()]\n"

# Notes when each completion answer has reached the page, to tell the transport and the server
# apart from Monaco's own work after it.
WATCH_ANSWERS = """() => {
    const fetch = window.fetch;
    window.fetch = async (...args) => {
        const response = await fetch(...args);
        if (String(args[0]).endsWith('api/complete')) window.__answered = performance.now();
        return response;
    };
}"""

ARM_SUGGEST = """() => { window.__trial = new Promise((resolve) => {
    let t0 = null;
    window.addEventListener('keydown', () => { t0 = performance.now(); }, {capture: true, once: true});
    const seen = new MutationObserver(() => {
        if (t0 === null || !document.querySelector('.suggest-widget.visible .monaco-list-row')) return;
        seen.disconnect();
        requestAnimationFrame(() => { const t1 = performance.now(); resolve([t1 - t0, t1 - window.__answered]); });
    });
    seen.observe(document.body, {subtree: true, childList: true, attributes: true});
}); }"""

ARM_MARKERS = """([uri, want]) => { window.__trial = new Promise((resolve) => {
    let t0 = null;
    const u = monaco.Uri.parse(uri);
    window.addEventListener('keydown', () => { t0 = performance.now(); }, {capture: true, once: true});
    const sub = monaco.editor.onDidChangeMarkers((uris) => {
        if (t0 === null || !uris.some((x) => x.toString() === u.toString())) return;
        if (monaco.editor.getModelMarkers({resource: u}).length !== want) return;
        sub.dispose();
        requestAnimationFrame(() => resolve(performance.now() - t0));
    });
}); }"""

PLACE = """([text, line, column]) => {
    window.playground.setText('main', text);
    const e = monaco.editor.getEditors()[0];
    e.trigger('bench', 'hideSuggestWidget', null);
    e.setPosition({lineNumber: line, column: column}); e.focus(); }"""

QUIET = "() => !window.playground.busy()"

# Monaco alone: a provider inside the page that answers at once, on a model of its own. What it
# takes from the keystroke to the rows is the least any page with Monaco could do here.
INSTANT = """() => {
    monaco.languages.register({id: 'bench-instant'});
    monaco.languages.registerCompletionItemProvider('bench-instant', {
        triggerCharacters: ['.'],
        provideCompletionItems(model, position) {
            window.__answered = performance.now();
            const word = model.getWordUntilPosition(position);
            const range = new monaco.Range(position.lineNumber, word.startColumn, position.lineNumber, word.endColumn);
            return {suggestions: Array.from({length: 20}, (_, i) => ({label: `item${i}`, kind: 1, insertText: `item${i}`, range}))};
        },
    });
    const editor = monaco.editor.getEditors()[0];
    editor.setModel(monaco.editor.createModel('value', 'bench-instant'));
}"""


def _split_at(code, line, column):
    """The text without the character before (line, column), and Monaco's position there."""
    lines = code.split("\n")
    text = lines[line - 1]
    assert text[column - 1] == ".", "the completion position must follow a '.'"
    lines[line - 1] = text[:column - 1] + text[column:]
    return "\n".join(lines), line, column  # Monaco's column is 1-based: just before where "." was


def _completion_trials(page, lt, buf, trials):
    code, line, column = buf.code, *buf.completion
    without_dot, m_line, m_column = _split_at(code, line, column)
    modules = {"helpers": HELPERS}
    page_times, bare_times, drawing = [], [], []
    for _ in range(trials):
        page.evaluate(PLACE, [without_dot, m_line, m_column])
        page.wait_for_function(QUIET)
        page.evaluate(ARM_SUGGEST)
        page.keyboard.type(".")
        total, after_answer = page.evaluate("() => window.__trial")
        page_times.append(total / 1000)
        drawing.append(after_answer / 1000)
        page.keyboard.press("Escape")
        page.wait_for_function(QUIET)
        bare_times.append(_timed(lambda: lt.get_completions(code, line, column, "main", modules)))
    return page_times, bare_times, drawing


def _instant_trials(page, trials):
    page.evaluate(INSTANT)
    times = []
    for _ in range(trials + 1):
        page.evaluate("() => { const e = monaco.editor.getEditors()[0]; e.getModel().setValue('value');"
                      " e.setPosition({lineNumber: 1, column: 6}); e.focus(); }")
        page.evaluate(ARM_SUGGEST)
        page.keyboard.type(".")
        times.append(page.evaluate("() => window.__trial")[0] / 1000)
        page.keyboard.press("Escape")
    return times[1:]


def _marker_trials(page, lt, buf, trials, delay):
    # The buffer ends with a misspelt name; the keystroke completes it and its marker goes.
    before = buf.code + "\nresult = 1\nprint(resul)\n"
    after = buf.code + "\nresult = 1\nprint(result)\n"
    last = before.count("\n")
    modules = {"helpers": HELPERS}
    lt.sync_modules(modules, None)
    want = len(lt.get_diagnostics(after, "main")["diagnostics"])
    page_times, bare_times = [], []
    for _ in range(trials):
        page.evaluate(PLACE, [before, last, len("print(resul") + 1])
        page.wait_for_function(QUIET)
        page.evaluate(ARM_MARKERS, ["file:///main.py", want])
        page.keyboard.type("t")
        page_times.append(page.evaluate("() => window.__trial") / 1000 - delay)
        page.wait_for_function(QUIET)

        def bare():
            lt.sync_modules(modules, None)
            return lt.get_diagnostics(after, "main")

        bare_times.append(_timed(bare))
    return page_times, bare_times


def _timed(fn):
    import time

    start = time.perf_counter()
    answer = fn()
    elapsed = time.perf_counter() - start
    assert answer.get("error") is None, answer["error"]
    return elapsed


def _rows(name, what, request, page_times, bare_times, limit):
    p50 = median(page_times), median(bare_times)
    p95 = percentile(page_times, 0.95), percentile(bare_times, 0.95)
    section = f"{SECTION}, {name}"
    return [
        ratio_row(section, f"p50 {what} / bare {request}", p50[0] / p50[1], limit,
                  context=f"p50 {fmt_seconds(p50[0])} vs {fmt_seconds(p50[1])}"),
        ratio_row(section, f"p95 {what} / bare {request}", p95[0] / p95[1],
                  context=f"p95 {fmt_seconds(p95[0])} vs {fmt_seconds(p95[1])}"),
    ]


# The first completions a person asks for after the page says ready, each beside the same
# completion asked again (warm); the libraries after their background warm-up has finished, as
# when the person types a few seconds after the page is ready.
FIRST = (
    ("Context.workbook.", "Context.workbook.", False),
    ("Excel.", "Excel.", False),
    ("pd.", "import pandas as pd\npd.", True),
    ("np.", "import numpy as np\nnp.", True),
)
# How long the first completion of a library may take, warm-up done, on a quiet machine.
FIRST_LIBRARY_LIMIT = 1.5


def _type_dot(page, code):
    """Seconds from the keystroke '.' at the end of `code` to the suggestion rows."""
    line = code.count("\n") + 1
    without_dot, m_line, m_column = _split_at(code, line, len(code.split("\n")[-1]))
    page.evaluate(PLACE, [without_dot, m_line, m_column])
    page.wait_for_function(QUIET)
    page.evaluate(ARM_SUGGEST)
    page.keyboard.type(".")
    total, _ = page.evaluate("() => window.__trial")
    page.keyboard.press("Escape")
    page.wait_for_function(QUIET)
    return total / 1000


def _first_sight(pw, cold, libraries):
    """{label: (first, again)} for a freshly started playground, warmed or not."""
    from devkit.playground.browser import PlaygroundProcess, launch

    server = PlaygroundProcess(timeout=120.0, cold_editor=cold)
    browser = launch(pw)
    try:
        page = browser.new_page(viewport={"width": 1400, "height": 820})
        page.set_default_timeout(300_000)
        page.goto(server.url)
        page.wait_for_function("() => document.body.dataset.ready === 'true'")
        page.evaluate(WATCH_ANSWERS)
        times = {}
        for label, code, library in FIRST:
            if library and not libraries:
                continue
            if library and not cold:
                page.evaluate("async () => { await (await fetch('api/warm', {method: 'POST', body: JSON.stringify({all: true})})).json(); }")
            times[label] = (_type_dot(page, code), _type_dot(page, code))
        return times
    finally:
        browser.close()
        server.stop()


def _first_sight_rows(pw, size):
    section = f"{SECTION}, first completion after ready"
    rows = []
    runs = [("warmed", False)] + ([("cold", True)] if size != "smoke" else [])
    for name, cold in runs:
        for label, (first, again) in _first_sight(pw, cold, libraries=size != "smoke").items():
            library = label in ("pd.", "np.")
            context = f"first {fmt_seconds(first)}, then {fmt_seconds(again)}"
            if library and not cold:
                rows.append(Row(section, f"first '{label}' after the background warm-up, page {name}",
                                f"{first:.2f} s ({context})", f"<= {FIRST_LIBRARY_LIMIT:g} s",
                                first <= FIRST_LIBRARY_LIMIT))
            else:
                limit = None if cold or library else 1.5
                rows.append(ratio_row(section, f"first '{label}' / the same again, page {name}",
                                      first / again, limit, context=context))
    return rows


def run(size="full"):
    from devkit.playground.browser import PlaygroundProcess, browser_missing, launch

    missing = browser_missing()
    if missing:
        return [Row(SECTION, "keystroke to suggestions and to markers", f"not measured: {missing}")]
    from playwright.sync_api import sync_playwright

    trials = SIZES[size]
    rows = []
    lt = Lintora()
    server = PlaygroundProcess()
    try:
        server.warm_up()
        with sync_playwright() as pw:
            browser = launch(pw)
            try:
                page = browser.new_page(viewport={"width": 1400, "height": 820})
                page.set_default_timeout(120_000)
                page.goto(server.url)
                page.wait_for_function("() => document.body.dataset.ready === 'true'")
                page.evaluate("([text]) => window.playground.setText('helpers', text)", [HELPERS])
                page.evaluate(WATCH_ANSWERS)
                delay = page.evaluate("() => window.playground.diagnosticsDelay") / 1000
                for buf in buffers.buffers(size):
                    if buf.completion:
                        _completion_trials(page, lt, buf, 1)  # warm-up: jedi loads what the buffer uses
                        page_t, bare_t, drawing = _completion_trials(page, lt, buf, trials)
                        rows += _rows(buf.name, "keystroke '.' to suggestion rows", "get_completions",
                                      page_t, bare_t, 1.3)
                        rows.append(Row(f"{SECTION}, {buf.name}", "of which Monaco, from the answer to the rows",
                                        f"p50 {fmt_seconds(median(drawing))}, p95 {fmt_seconds(percentile(drawing, 0.95))}"))
                        answered = [t - d for t, d in zip(page_t, drawing)]
                        rows.append(ratio_row(
                            f"{SECTION}, {buf.name}", "p50 keystroke '.' to the answer in the page / bare get_completions",
                            median(answered) / median(bare_t), context=f"p50 {fmt_seconds(median(answered))}"))
                    _marker_trials(page, lt, buf, 1, delay)
                    page_t, bare_t = _marker_trials(page, lt, buf, trials, delay)
                    rows += _rows(buf.name, f"keystroke to markers (less the {delay * 1000:.0f} ms pause)",
                                  "get_diagnostics", page_t, bare_t, None)
                instant = _instant_trials(page, trials)
                rows.append(Row(SECTION, "Monaco alone: keystroke '.' to rows, from a provider in the page",
                                f"p50 {fmt_seconds(median(instant))}, p95 {fmt_seconds(percentile(instant, 0.95))}"))
            finally:
                browser.close()
            rows += _first_sight_rows(pw, size)
    finally:
        server.stop()
        lt.cleanup()
    return rows
