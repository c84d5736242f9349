sheet = Context.workbook.worksheets.getItem("Data")
table = sheet.tables.add("A1:C4", True)
table.name = "Sales"
table.getHeaderRowRange().values = [["Region", "Units", "Price"]]
table.rows.add(None, [["North", 10, 2.5]])
body = table.getDataBodyRange()
body.load("rowCount")
Context.sync()
print(body.rowCount)
