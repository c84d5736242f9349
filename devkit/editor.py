"""The editor services as a user of the editor meets them: markers under the code, a completion
list at a cursor, and hover text. It drives `lintora.Lintora` exactly as the kernel does and
renders its Monaco-shaped answers as plain text."""

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
