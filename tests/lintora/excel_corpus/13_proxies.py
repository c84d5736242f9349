import numpy as np

sheet = Context.workbook.worksheets.getItem("Sheet1")
cells = sheet.getRange("A1:C3")
cells.values = np.arange(9).reshape(3, 3).tolist()
cells.load("values")
Context.sync()
total = sum(sum(row) for row in cells.values)
print(total, np.mean(cells.values))
