sheet = Context.workbook.worksheets.getItem("Sheet1")
for index in range(5):
    cell = sheet.getCell(index, 0)
    cell.values = [[index * 10]]
    cell.format.font.italic = index % 2 == 0
Context.sync()
