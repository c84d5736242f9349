sheet = Context.workbook.worksheets.getItem("Sheet1")
rng = sheet.getRange("A1:B2")
rng.values = [[1, 2], [3, 4]]
rng.load("values, address")
Context.sync()
print(rng.address, rng.values[0][0])
