workbook = Context.workbook
target = workbook.worksheets.getItem("Sheet1").getRange("A1:A10")
workbook.names.add("Inputs", target)
named = workbook.names.getItem("Inputs")
named.getRange().load("address")
Context.sync()
