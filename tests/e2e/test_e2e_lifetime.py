"""Remote object lifetime: every proxy releases its object, the add-in frees an object only when
its last proxy is gone, and its table stays bounded however many proxies a script makes."""
import gc

from e2e_support import settle, table_size


def test_fetching_an_object_twice_survives_dropping_one_proxy(kernel, ostrel, fresh_sheet):
    name = fresh_sheet.name
    first = ostrel.Context.workbook.worksheets.getItem(name)
    second = ostrel.Context.workbook.worksheets.getItem(name)
    assert first is not second and first._internal_id == second._internal_id == fresh_sheet._internal_id
    del first
    gc.collect()
    assert second.name == name
    second.getRange("A1").values = [["still here"]]
    assert fresh_sheet.getRange("A1").values[0][0] == "still here"


def test_dropped_proxies_are_released(kernel, ostrel, fresh_sheet):
    baseline = table_size(kernel)
    grid = fresh_sheet.getRange("A1:C20").values  # an array proxy holding 20 row proxies
    rng = fresh_sheet.getRange("A1")
    assert kernel.stats()["objects"] >= baseline + 21
    del grid, rng
    assert settle(kernel, baseline) == baseline


def test_table_stays_bounded_over_ten_thousand_proxies(kernel):
    source = """
sheet = Context.workbook.worksheets.add("Many")
peak = 0
made = 0
for i in range(2500):
    cell = sheet.getRange(f"A{i % 50 + 1}")       # a method proxy and a range proxy
    cell.values = [[i]]
    row = cell.values                              # an array proxy and its row proxy
    made += 4
    assert row[0][0] == i
    if i % 250 == 0:
        peak = max(peak, table_size())
sheet.delete()
print(made, peak)
"""
    baseline = table_size(kernel)
    result = kernel.run_script(source, "many.py", timeout=600,
                               extra_globals={"table_size": lambda: kernel.stats()["objects"]})
    assert result.ok, result.error
    made, peak = map(int, result.output.split())
    assert made == 10000
    assert peak <= baseline + 20, f"the add-in's table grew to {peak} objects"
    assert settle(kernel, baseline) == baseline
