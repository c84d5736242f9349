"""Half-year sales report.

Writes the sales table (a pandas DataFrame) into a new sheet, reads it back from the workbook,
computes a summary and writes it with number formats into a second sheet, and keeps a change log
through a Python handler that Excel calls whenever the sales sheet is edited.

Run it with `make demo`, or `python -m devkit run examples/sales_report.py`.
"""
import datetime as dt
import threading

import pandas as pd

# The kernel puts these three in every script's globals; importing them as well lets the editor
# know what they are.
from cellumo_master.python_server.cellumo.ostrel import Context, Excel, GetSetting

currency = GetSetting("currency_format", "$#,##0.00")
region = GetSetting("region", "All regions")

sales = pd.DataFrame({
    "Month": pd.date_range("2024-01-01", periods=6, freq="MS"),
    "Units": [120, 95, 143, 160, 151, 178],
    "Price": [19.99, 19.99, 18.49, 18.49, 18.49, 17.99],
})
sales["Revenue"] = (sales["Units"] * sales["Price"]).round(2)

workbook = Context.workbook
sheet = workbook.worksheets.add("Sales")
table = sheet.getRange("A1").getResizedRange(len(sales), len(sales.columns) - 1)
table.values = sales  # the header row, then one row per month
sheet.getRange(f"A2:A{len(sales) + 1}").numberFormat = "mmm yyyy"
sheet.getRange(f"C2:D{len(sales) + 1}").numberFormat = currency
table.getRow(0).format.font.bold = True
table.format.autofitColumns()
Context.sync()
print(f"Wrote {table.rowCount - 1} months of sales to {table.address}")


# Every edit of the sales sheet is logged. Excel calls the handler on a worker thread of the
# kernel, possibly while another edit's handler still runs, hence the lock.
change_log = []
log_lock = threading.Lock()


def log_change(event):
    with log_lock:
        change_log.append(f"{event.changeType} at {event.address}")
        row = len(change_log)
        workbook.worksheets.getItem("Log").getRange(f"A{row}").values = [[change_log[-1]]]


workbook.worksheets.add("Log")
sheet.onChanged.add(log_change)


def read_sales(sheet_name):
    """Reads a sheet's used range back into a DataFrame, taking the first row as the header."""
    header, *rows = workbook.worksheets.getItem(sheet_name).getUsedRange().values
    return pd.DataFrame([list(row) for row in rows], columns=list(header))


def summarize(frame):
    """Totals and the best month of a sales table with Month, Units, Price and Revenue columns."""
    best = frame.loc[frame["Revenue"].idxmax()]
    return [
        ["Region", region],
        ["Units sold", int(frame["Units"].sum())],
        ["Revenue", float(frame["Revenue"].sum())],
        ["Average price", float(frame["Revenue"].sum() / frame["Units"].sum())],
        ["Best month", best["Month"].strftime("%B %Y")],
        ["Revenue check", "=SUM(Sales!D2:D7)"],
    ]


# A correction arrives for March: editing the sheet fires the change handler.
sheet.getRange("B4").values = [[148]]
sheet.getRange("D4").values = [[round(148 * 18.49, 2)]]

back = read_sales("Sales")
assert isinstance(back["Month"][0], dt.datetime), "dates come back as datetime"


def write_summary(context):
    """Runs inside Excel.run: Excel hands this function its request context."""
    target = context.workbook.worksheets.add("Summary")
    rows = summarize(back)
    cells = target.getRange(f"A1:B{len(rows)}")
    cells.values = rows
    target.getRange("B3:B4").numberFormat = [[currency], [currency]]
    target.getRange("B6").numberFormat = currency
    return cells.address


address = Excel.run(write_summary)
print(f"Summary written to {address}")
print(f"Units sold: {back['Units'].sum()}, revenue: {back['Revenue'].sum():,.2f}")
