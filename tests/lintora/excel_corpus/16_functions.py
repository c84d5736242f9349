def write_block(sheet_name, address, rows):
    target = Context.workbook.worksheets.getItem(sheet_name).getRange(address)
    target.values = rows
    return target


block = write_block("Sheet1", "A1:B1", [[1, 2]])
block.format.font.size = 14
block.load("address")
Context.sync()
