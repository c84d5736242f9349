sheet = Context.workbook.worksheets.getItem("Sheet1")
sheet.protection.protect()
sheet.protection.load("protected")
Context.sync()
if sheet.protection.protected:
    sheet.protection.unprotect()
