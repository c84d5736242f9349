sheets = Context.workbook.worksheets
sheets.load("items/name")
Context.sync()
for ws in sheets.items:
    print(ws.name, ws.position, ws.visibility)
    ws.getUsedRange().load("address")
