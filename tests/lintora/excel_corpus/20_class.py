class Writer:
    def __init__(self, name):
        self.sheet = Context.workbook.worksheets.getItem(name)
        self.row = 0

    def write(self, values):
        self.row += 1
        self.sheet.getRange(f"A{self.row}").values = [values]


writer = Writer("Sheet1")
writer.write(["one"])
writer.sheet.getRange("A1").format.fill.clear()
