"""Reaching into the page the way a person's hands would: where a line and column sit on the
screen, where the cursor goes, what a tab holds. Assertions stay in the tests and use
Playwright's retrying `expect` or `wait_for_function`."""

EDITOR = "monaco.editor.getEditors()[0]"


def set_text(page, module, text):
    """Replaces a tab's whole text (making the tab if needed) and shows that tab."""
    page.evaluate("([name, text]) => window.playground.setText(name, text)", [module, text])


def put_cursor(page, line, column):
    """Cursor at a 1-based line and column, editor focused."""
    page.evaluate(f"([l, c]) => {{ const e = {EDITOR}; e.setPosition({{lineNumber: l, column: c}}); e.focus(); }}",
                  [line, column])


def cursor_at_end(page):
    page.evaluate(f"""() => {{
        const e = {EDITOR}; const m = e.getModel(); const l = m.getLineCount();
        e.setPosition({{lineNumber: l, column: m.getLineMaxColumn(l)}}); e.focus(); }}""")


def point_of(page, line, column, middle_of_line=True):
    """Page coordinates (x, y) of the left edge of a 1-based line and column."""
    return page.evaluate(f"""([l, c, mid]) => {{
        const e = {EDITOR}; const box = e.getDomNode().getBoundingClientRect();
        e.revealPosition({{lineNumber: l, column: c}});
        const p = e.getScrolledVisiblePosition({{lineNumber: l, column: c}});
        return [box.left + p.left, box.top + p.top + (mid ? p.height / 2 : 0)];
    }}""", [line, column, middle_of_line])


def hover_over(page, line, column):
    """Moves the mouse onto a position in several steps, as a hand does; Monaco's hover follows
    mouse movement, and a single jump is not always taken for a hover."""
    x, y = point_of(page, line, column)
    page.mouse.move(x - 60, y + 40)
    page.mouse.move(x - 10, y + 5, steps=5)
    page.mouse.move(x + 3, y, steps=5)


def wait_for_markers(page, module, count_expression="n > 0"):
    """Waits until the markers for the tab's current text are in (no request for them is due or
    on its way) and satisfy `count_expression` (in n); returns them."""
    uri = f"file:///{module}.py"
    page.wait_for_function(f"""() => {{
        if (window.playground.busy()) return false;
        const n = monaco.editor.getModelMarkers({{resource: monaco.Uri.parse('{uri}')}}).length;
        return {count_expression}; }}""")
    return page.evaluate(f"""() => monaco.editor.getModelMarkers({{resource: monaco.Uri.parse('{uri}')}})
        .map(m => ({{startLineNumber: m.startLineNumber, startColumn: m.startColumn, endLineNumber: m.endLineNumber,
                     endColumn: m.endColumn, message: m.message, severity: m.severity}}))""")


def suggestion_rows(page):
    """The suggestion widget's rows in list order: [(label, icon class)]."""
    return page.evaluate("""() => [...document.querySelectorAll('.suggest-widget .monaco-list-row')]
        .sort((a, b) => Number(a.dataset.index) - Number(b.dataset.index))
        .map(row => [row.querySelector('.label-name').textContent,
                     [...row.querySelector('.suggest-icon').classList].find(c => c.startsWith('codicon-symbol-'))])""")
