sheets = Context.workbook.worksheets
old = sheets.getItemOrNullObject("Old")
old.load("isNullObject")
Context.sync()
if not old.isNullObject:
    old.delete()
sheets.add("New").getRange("A1").values = [["fresh"]]
