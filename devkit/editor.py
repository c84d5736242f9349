"""The editor services as a user of the editor meets them: markers under the code, a completion
list at a cursor, and hover text. It drives `lintora.Lintora` exactly as the kernel does and
renders its Monaco-shaped answers as plain text."""
import threading

SEVERITY = {8: "error", 4: "warning"}


def utf16_width(text):
    """How many columns the editor counts for `text`: UTF-16 code units, as Monaco does."""
    return len(text) + sum(1 for c in text if ord(c) > 0xFFFF)


def character_index(text, column):
    """The index into `text` of the 0-based editor column `column` (inside a surrogate pair: the
    character it belongs to)."""
    units = 0
    for index, c in enumerate(text):
        width = utf16_width(c)
        if units + width > column:
            return index
        units += width
    return len(text) + max(0, column - units)


def position_after(code, needle, occurrence=1):
    """(line, column) just after the `occurrence`-th `needle`: 1-based line, 0-based column, as
    the editor sends cursor positions."""
    index = -1
    for _ in range(occurrence):
        index = code.index(needle, index + 1)
    end = index + len(needle)
    line = code.count("\n", 0, end) + 1
    column = utf16_width(code[code.rfind("\n", 0, end) + 1:end])
    return line, column


def render_diagnostics(code, result):
    if result.get("error"):
        return f"  (the diagnostics request failed: {result['error']})\n"
    markers = result["diagnostics"]
    if not markers:
        return "  no problems\n"
    lines = code.split("\n")
    out = []
    for m in markers:
        severity = SEVERITY.get(m.get("severity"), str(m.get("severity")))
        out.append(f"  {severity} at line {m['startLineNumber']}, column {m['startColumn']}: {m['message']}")
        source = lines[m["startLineNumber"] - 1] if 0 < m["startLineNumber"] <= len(lines) else ""
        start = character_index(source, m["startColumn"] - 1)
        end = character_index(source, m["endColumn"] - 1) if m["endLineNumber"] == m["startLineNumber"] else len(source)
        out.append(f"      {source}")
        out.append("      " + " " * start + "^" + "~" * max(0, end - start - 1))
    return "\n".join(out) + "\n"


def render_completions(result, kinds, limit=12):
    if result.get("error"):
        return f"  (the completion request failed: {result['error']})\n"
    items = result["completions"]
    names = {number: name for name, number in kinds.items()}
    names[4] = "variable"
    out = [f"  {len(items)} completions; the first {min(limit, len(items))}:"]
    for item in items[:limit]:
        detail = item.get("detail", "")
        detail = detail if len(detail) <= 60 else detail[:59] + "…"
        out.append(f"    {item['label']:<24} {names.get(item['kind'], item['kind']):<9} {detail}".rstrip())
    return "\n".join(out) + "\n"


def render_hover(result):
    if result.get("error"):
        return f"  (the hover request failed: {result['error']})\n"
    contents = result.get("contents")
    if not contents:
        return "  (nothing to show)\n"
    return "".join(f"  | {line}\n" for line in contents["value"].split("\n"))


# The names the kernel puts into every script's globals, as the editor is told about them
# (Lintora.set_known_globals): each is the bridge module's object of that name.
BRIDGE = "cellumo_master.python_server.cellumo.ostrel"
KERNEL_GLOBALS = {name: f"{BRIDGE}.{name}" for name in ("Excel", "Context", "GetSetting")}

# Completing the whole Excel namespace makes jedi read every module of the Excel-API stubs, which
# parso then keeps parsed for the life of the process.
WARM_UP_CODE = f"from {BRIDGE} import Excel\nExcel."


def kernel_lintora():
    """A new Lintora that knows the kernel's script globals."""
    from cellumo_master.python_server.lintora import Lintora

    lsp = Lintora()
    lsp.set_known_globals(KERNEL_GLOBALS)
    return lsp


_warm_up = {"thread": None}
_warm_up_lock = threading.Lock()


def warm_up_editor_services():
    """Parses the typed stubs once, with a throwaway Lintora, so that the user's first completion
    on the Excel API does not pay for it (several seconds). Returns the completion result."""
    from cellumo_master.python_server.lintora import Lintora

    lsp = Lintora()
    try:
        return lsp.get_completions(WARM_UP_CODE, 2, len("Excel."))
    finally:
        lsp.cleanup()


def start_editor_warm_up():
    """Runs warm_up_editor_services once per process, on a thread of its own so that start-up
    does not wait for it. Returns that thread. The thread is not a daemon: the interpreter waits
    for it at exit rather than tearing the editor services down under it.

    jedi is not thread-safe: two requests at once, on any two Lintora instances, can corrupt
    each other. Whoever asks the editor services anything in this process calls
    wait_for_editor_warm_up() (or uses editor_services()) first."""
    with _warm_up_lock:
        if _warm_up["thread"] is None:
            _warm_up["thread"] = threading.Thread(target=warm_up_editor_services, name="editor-warm-up")
            _warm_up["thread"].start()
        return _warm_up["thread"]


def wait_for_editor_warm_up():
    """Returns once no warm-up is running (at once if none was started)."""
    with _warm_up_lock:
        thread = _warm_up["thread"]
    if thread is not None and thread is not threading.current_thread():
        thread.join()


def editor_services():
    """A new Lintora that knows the kernel's script globals, once the warm-up (if any) is over."""
    wait_for_editor_warm_up()
    return kernel_lintora()
