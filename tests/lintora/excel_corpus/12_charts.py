sheet = Context.workbook.worksheets.getItem("Sheet1")
data = sheet.getRange("A1:B5")
chart = sheet.charts.add("ColumnClustered", data, "Auto")
chart.title.text = "Units by month"
chart.setPosition("D2", "J15")
chart.legend.position = "Bottom"
