source = Context.workbook.worksheets.getItem("Sheet1").getRange("A1:B2")
target = Context.workbook.worksheets.getItem("Sheet2").getRange("A1")
target.copyFrom(source, "Values")
target.getResizedRange(1, 1).format.borders.getItem("EdgeBottom").style = "Continuous"
