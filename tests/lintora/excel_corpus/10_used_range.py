used = Context.workbook.worksheets.getActiveWorksheet().getUsedRange()
used.load(["rowCount", "columnCount", "text"])
Context.sync()
print(used.rowCount, used.columnCount, used.text)
used.format.columnWidth = 80
used.format.rowHeight = 18
