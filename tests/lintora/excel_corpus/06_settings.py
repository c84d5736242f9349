region = GetSetting("region", "All regions")
currency = GetSetting("currency_format")
sheet = Context.workbook.worksheets.getItem("Sheet1")
sheet.getRange("A1").values = [[region]]
sheet.getRange("B1").numberFormat = [[currency]]
