workbook = Context.workbook
report = workbook.worksheets.add("Report")
report.activate()
report.getRange("A1").values = [["Total"]]
report.getCell(0, 1).formulas = [["=SUM(Sheet1!A:A)"]]
report.freezePanes.freezeRows(1)
