sheet = Context.workbook.worksheets.getItem("Sheet1")


def on_change(event):
    print(event.address, event.changeType)


sheet.onChanged.add(on_change)
Context.sync()
