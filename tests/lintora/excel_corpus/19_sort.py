table = Context.workbook.tables.getItem("Sales")
table.sort.apply([{"key": 1, "ascending": False}])
table.columns.getItem("Units").getDataBodyRange().numberFormat = [["0"]]
table.load("name")
Context.sync()
print(table.name)
