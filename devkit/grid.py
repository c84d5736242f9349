"""Text pictures of worksheets: each sheet's used range as a grid with Excel's column letters and
row numbers, showing the text Excel would display (number formats applied)."""


def column_name(index):
    name = ""
    n = index + 1
    while n > 0:
        n, rem = divmod(n - 1, 26)
        name = chr(65 + rem) + name
    return name


def _clip(text, width):
    return text if len(text) <= width else text[: width - 1] + "…"


MAX_ROWS = 40
MAX_COLUMNS = 12


def format_sheet(sheet, max_rows=MAX_ROWS, max_columns=MAX_COLUMNS, max_width=28):
    """One sheet of a snapshot ({name, address, rowIndex, columnIndex, values, text}, with
    rowCount and columnCount when the snapshot holds only part of the used range) as text."""
    title = f"Worksheet '{sheet['name']}'"
    if not sheet.get("address"):
        return f"{title}: empty\n"
    text = sheet["text"]
    values = sheet["values"]
    rows = text[:max_rows]
    ncols = min(len(text[0]) if text else 0, max_columns)
    left = sheet["columnIndex"]
    top = sheet["rowIndex"]
    headers = [column_name(left + c) for c in range(ncols)]
    cells = [[_clip(row[c], max_width) for c in range(ncols)] for row in rows]
    widths = [max([len(headers[c])] + [len(r[c]) for r in cells]) for c in range(ncols)]
    gutter = len(str(top + len(rows)))

    def align(r, c, cell):
        v = values[r][c]
        numeric = isinstance(v, (int, float)) or isinstance(v, dict)  # dates arrive as {"date": ...}
        return cell.rjust(widths[c]) if numeric else cell.ljust(widths[c])

    lines = [f"{title}, used range {sheet['address'].split('!')[-1]}"]
    lines.append(" " * gutter + " | " + " | ".join(h.center(widths[c]) for c, h in enumerate(headers)))
    lines.append("-" * gutter + "-+-" + "-+-".join("-" * w for w in widths))
    for r, row in enumerate(cells):
        lines.append(str(top + r + 1).rjust(gutter) + " | " + " | ".join(align(r, c, cell) for c, cell in enumerate(row)))
    hidden_rows = sheet.get("rowCount", len(text)) - len(rows)
    hidden_cols = sheet.get("columnCount", len(text[0]) if text else 0) - ncols
    if hidden_rows or hidden_cols:
        lines.append(f"({hidden_rows} more rows, {hidden_cols} more columns not shown)")
    return "\n".join(line.rstrip() for line in lines) + "\n"


def format_workbook(snapshot, **limits):
    return "\n".join(format_sheet(sheet, **limits) for sheet in snapshot)
