import pandas as pd

frame = pd.DataFrame({"a": [1, 2], "b": [3, 4]})
sheet = Context.workbook.worksheets.getItem("Sheet1")
target = sheet.getRange("A1").getResizedRange(len(frame), len(frame.columns) - 1)
target.values = frame
target.load("values")
Context.sync()
back = pd.DataFrame(target.values[1:], columns=target.values[0])
print(back.describe(), frame.sum().to_dict())
