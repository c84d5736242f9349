sheet = Context.workbook.worksheets.getActiveWorksheet()
header = sheet.getRange("A1:D1")
header.format.font.bold = True
header.format.font.color = "#FFFFFF"
header.format.fill.color = "#4472C4"
header.format.horizontalAlignment = "Center"
header.format.autofitColumns()
sheet.getRange("B2:B10").numberFormat = [["0.00"]]
