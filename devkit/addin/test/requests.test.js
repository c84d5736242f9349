'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { Harness, w, plainOf } = require('./helpers');

test('values of every kind round-trip through a range, NaN and infinities included', async () => {
  const h = new Harness();
  const rng = await h.range('A1:C2');
  const input = { type: 'Array', isSpec: false, value: [
    { type: 'Array', isSpec: false, value: [w(1), w(2.5), w('text')] },
    { type: 'Array', isSpec: false, value: [w(true), { type: 'Date', value: '2024-01-02T03:04:05', isSpec: false },
      { type: 'Float', value: 'NaN', isSpec: false }] },
  ] };
  assert.equal((await h.request({ method: 'SET', name: 'values', caller: rng, value: input })).ok, true);
  const values = await h.get(rng, 'values');
  assert.deepEqual(plainOf(values), [[1, 2.5, 'text'], [true, { date: '2024-01-02T03:04:05' }, 'NaN']]);
  assert.equal(values.value[1].value[2].type, 'Float', 'NaN must come back as a Float record, not text');
  assert.ok(Number.isInteger(values.id) && Number.isInteger(values.value[0].id), 'every array carries an id');
  await h.set(rng, 'values', -Infinity);
  assert.deepEqual(plainOf(await h.get(rng, 'values')), [['-Infinity', '-Infinity', '-Infinity'], ['-Infinity', '-Infinity', '-Infinity']]);
});

test('null leaves a cell unchanged, empty text clears it, and a text starting with = is a formula', async () => {
  const h = new Harness();
  const rng = await h.range('A1:B1');
  await h.set(rng, 'values', [[2, 3]]);
  await h.set(rng, 'values', [[null, '']]);
  assert.deepEqual(plainOf(await h.get(rng, 'values')), [[2, '']]);
  await h.set(rng, 'values', [[4, '=A1*10']]);
  assert.deepEqual(plainOf(await h.get(rng, 'values')), [[4, 40]]);
  assert.deepEqual(plainOf(await h.get(rng, 'formulas')), [[4, '=A1*10']]);
});

test('formulas see current values and report errors and cycles as Excel error texts', async () => {
  const h = new Harness();
  await h.call(await h.get(0, 'workbook').then((wb) => h.get(wb.value, 'worksheets')).then((s) => s.value), 'add', 'Data');
  await h.set(await h.range('A1:A3', 'Data'), 'values', [[1], [2], [3]]);
  const rng = await h.range('A1:F1');
  await h.set(rng, 'formulas', [['=SUM(Data!A1:A3)', '=AVERAGE(Data!A1:A3)*2', '=1/0', '=NOPE(1)', '=F1', '=E1+1']]);
  assert.deepEqual(plainOf(await h.get(rng, 'values')), [[6, 4, '#DIV/0!', '#NAME?', '#CIRC!', '#CIRC!']]);
  await h.set(await h.range('A2', 'Data'), 'values', 10);
  assert.deepEqual(plainOf(await h.get(await h.range('A1'), 'values')), [[14]]);
  await h.set(await h.range('A2'), 'formulas', '=IF(A1>10,"big","small") & "!"');
  assert.deepEqual(plainOf(await h.get(await h.range('A2'), 'values')), [['big!']]);
});

test('number formats shape the displayed text', async () => {
  const h = new Harness();
  const rng = await h.range('A1:D1');
  await h.set(rng, 'values', [[1234.5, 0.256, -3, { type: 'Date', value: '2024-03-05', isSpec: false }]]);
  await h.set(rng, 'numberFormat', [['#,##0.00', '0.0%', '$#,##0;($#,##0)', 'dd/mm/yyyy']]);
  assert.deepEqual(plainOf(await h.get(rng, 'text')), [['1,234.50', '25.6%', '($3)', '05/03/2024']]);
  assert.deepEqual(plainOf(await h.get(rng, 'numberFormat')), [['#,##0.00', '0.0%', '$#,##0;($#,##0)', 'dd/mm/yyyy']]);
});

test('bad input is refused with a message naming what is wrong, and nothing is written', async () => {
  const h = new Harness();
  const rng = await h.range('A1:B2');
  let r = await h.set(rng, 'values', [[1, 2, 3]]);
  assert.match(r.error.message, /doesn't match the size .*Sheet1!A1:B2 is 2x2, the values given are 1x3/);
  r = await h.set(rng, 'values', [[1, 2], [3, [4]]]);
  assert.match(r.error.message, /A cell can hold a number, text, a boolean or a date, not a list \(at row 1, column 1\)/);
  assert.deepEqual(plainOf(await h.get(rng, 'values')), [['', ''], ['', '']]);
  r = await h.set(rng, 'address', 'A1');
  assert.match(r.error.message, /'address' of Range is read-only/);
  const sheet = await h.sheet();
  r = await h.request({ method: 'CALL', name: '__call__', caller: (await h.get(sheet, 'getRange')).value, args: [{ arg_type: 'PLACED', value: w('A0') }] });
  assert.match(r.error.message, /'A0' is not a valid A1 address/);
  r = await h.request({ method: 'CALL', name: '__call__', caller: sheet, args: [] });
  assert.match(r.error.message, /Worksheet is not a function/);
  const sheets = await h.get((await h.get(0, 'workbook')).value, 'worksheets');
  const getItem = await h.get(sheets.value, 'getItem');
  r = await h.request({ method: 'CALL', name: '__call__', caller: getItem.value, args: [{ arg_type: 'PLACED', value: w('Nope') }] });
  assert.match(r.error.message, /The worksheet 'Nope' does not exist \(the workbook has 'Sheet1'\)/);
  r = await h.request({ method: 'CALL', name: '__call__', caller: getItem.value, args: [{ arg_type: 'NAMED', name: 'nme', value: w('x') }] });
  assert.match(r.error.message, /got an unexpected keyword argument 'nme'/);
});

test('worksheets: add, rename, used range, delete, and a deleted sheet refuses its ranges', async () => {
  const h = new Harness();
  const sheets = (await h.get((await h.get(0, 'workbook')).value, 'worksheets')).value;
  const added = (await h.call(sheets, 'add', 'Report')).value;
  assert.match((await h.request({ method: 'CALL', name: '__call__', caller: (await h.get(sheets, 'add')).value, args: [{ arg_type: 'PLACED', value: w('report') }] })).error.message,
    /A worksheet named 'Report' already exists/);
  assert.equal((await h.set(added, 'name', 'Summary')).ok, true);
  const rng = (await h.call(added, 'getRange', 'B2:C3')).value;
  await h.set(rng, 'values', [[1, ''], ['', 2]]);
  const used = (await h.call(added, 'getUsedRange')).value;
  assert.equal((await h.get(used, 'address')).value, 'Summary!B2:C3');
  assert.equal((await h.call(added, 'getUsedRangeOrNullObject')).type, 'Range');
  const items = await h.get(sheets, 'items');
  assert.deepEqual(items.value.map((i) => i.type), ['Worksheet', 'Worksheet']);
  const second = await h.ok({ method: 'GETITEM', name: '-1', caller: items.id });
  assert.equal(second.value, added);
  // Past the end is told apart from every other refusal by its code: it ends a Python loop.
  const past = await h.request({ method: 'GETITEM', name: '2', caller: sheets });
  assert.deepEqual(past.error, { message: 'Index 2 is out of range for a WorksheetCollection of length 2', code: 'IndexOutOfRange' });
  const bad = await h.request({ method: 'GETITEM', name: 'x', caller: sheets });
  assert.notEqual(bad.error.code, 'IndexOutOfRange');
  await h.call(added, 'delete');
  const r = await h.request({ method: 'GET', name: 'values', caller: rng });
  assert.match(r.error.message, /The worksheet 'Summary' has been deleted/);
  const last = (await h.request({ method: 'CALL', name: '__call__', caller: (await h.get(await h.sheet(), 'delete')).value, args: [] }));
  assert.match(last.error.message, /only one in the workbook/);
});

test('references are counted per hand-out: a twice-fetched object survives one release', async () => {
  const h = new Harness();
  const first = await h.sheet();
  const second = await h.sheet();
  assert.equal(first, second);
  assert.equal((await h.request({ method: 'DEL', name: '__del__', caller: first })).ok, true);
  assert.equal(await h.get(second, 'name').then((r) => r.value), 'Sheet1');
  await h.request({ method: 'DEL', name: '__del__', caller: second });
  assert.match((await h.request({ method: 'GET', name: 'name', caller: second })).error.message, /has been released/);
});

test('Python callbacks: Excel.run waits for the callable, events are sent ahead of the edit\'s response', async () => {
  const h = new Harness({ invokeTimeoutMs: 2000 });
  const runFn = await h.get(1, 'run');
  const pending = h.request({ method: 'CALL', name: '__call__', caller: runFn.value,
    args: [{ arg_type: 'PLACED', value: { type: 'Python_Function', value: 'pyfunc_1', isSpec: true } }] });
  await new Promise((resolve) => setImmediate(resolve));
  const invoke = h.sent.find((m) => m.kind === 'invoke');
  assert.deepEqual([invoke.callableId, invoke.args[0]], ['pyfunc_1', { type: 'RequestContext', value: 0, isSpec: true }]);
  h.addin.receive({ kind: 'invoke_result', invokeId: invoke.invokeId, ok: true, result: w(42) });
  assert.deepEqual((await pending).result, w(42));

  const sheet = await h.sheet();
  const onChanged = (await h.get(sheet, 'onChanged')).value;
  const add = (await h.get(onChanged, 'add')).value;
  await h.ok({ method: 'CALL', name: '__call__', caller: add, args: [{ arg_type: 'PLACED', value: { type: 'Python_Function', value: 'pyfunc_2', isSpec: true } }] });
  const edit = await h.set(await h.range('B2:C2'), 'values', 5);
  const event = h.sent.filter((m) => m.kind === 'invoke' && m.callableId === 'pyfunc_2').pop();
  assert.ok(h.sent.indexOf(event) < h.sent.indexOf(edit), 'the event goes out ahead of the edit\'s response');
  const args = event.args[0];
  assert.equal(args.type, 'Dict');
  assert.equal(args.value.address.value, 'B2:C2');
  assert.equal(args.value.changeType.value, 'RangeEdited');
  h.addin.receive({ kind: 'invoke_result', invokeId: event.invokeId, ok: false, error: { message: 'boom' } });
  await new Promise((resolve) => setImmediate(resolve));
  assert.match(h.control('errors').result[0], /onChanged handler pyfunc_2 failed: boom/);
});

test('stalled requests are held and answered in order on resume', async () => {
  const h = new Harness();
  h.control('stall');
  h.addin.receive({ kind: 'request', requestId: 'x1', method: 'GET', name: 'workbook', caller: 0 });
  h.addin.receive({ kind: 'request', requestId: 'x2', method: 'GET', name: 'nothing', caller: 0 });
  assert.equal(h.sent.filter((m) => m.kind === 'response').length, 0);
  assert.equal(h.control('resume').result, 2);
  assert.deepEqual(h.sent.filter((m) => m.kind === 'response').map((m) => [m.requestId, m.ok]), [['x1', true], ['x2', false]]);
});

test('range formats: fonts, fills, alignment and widths read back as the common value', async () => {
  const h = new Harness();
  const header = await h.range('A1:C1');
  const format = (await h.get(header, 'format')).value;
  const font = (await h.get(format, 'font')).value;
  assert.equal((await h.set(font, 'bold', true)).ok, true);
  await h.set((await h.get(format, 'fill')).value, 'color', '#FFEE00');
  await h.set(format, 'horizontalAlignment', 'Center');
  assert.match((await h.set(format, 'horizontalAlignment', 'Middle')).error.message, /horizontalAlignment takes one of General, Left, Center/);
  assert.equal((await h.get(font, 'bold')).value, true);
  const wider = (await h.get(await h.range('A1:C2'), 'format')).value;
  assert.equal((await h.get((await h.get(wider, 'font')).value, 'bold')).type, 'Null', 'mixed cells read as null');
  await h.set(header, 'values', [['Region', 'A much longer heading', 3]]);
  await h.call(format, 'autofitColumns');
  assert.equal((await h.get((await h.get(await h.range('B1'), 'format')).value, 'columnWidth')).value, 21 * 7);
  await h.call(header, 'clear', 'Formats');
  assert.equal((await h.get(font, 'bold')).value, false);
  assert.deepEqual(plainOf(await h.get(header, 'values')), [['Region', 'A much longer heading', 3]]);
});

test('forgetPython drops every event handler and fails the invokes still waiting', async () => {
  const h = new Harness();
  const onChanged = (await h.get(await h.sheet(), 'onChanged')).value;
  const add = (await h.get(onChanged, 'add')).value;
  await h.ok({ method: 'CALL', name: '__call__', caller: add, args: [{ arg_type: 'PLACED', value: { type: 'Python_Function', value: 'pyfunc_1', isSpec: true } }] });
  await h.set(await h.range('A1'), 'values', 1);
  const invokes = () => h.sent.filter((m) => m.kind === 'invoke').length;
  assert.equal(invokes(), 1);
  assert.deepEqual(h.control('forgetPython').result, { handlers: 1, invokes: 1 });
  await h.set(await h.range('A1'), 'values', 2);
  assert.equal(invokes(), 1, 'no handler fires after forgetPython');
  assert.deepEqual(h.control('stats').result.pendingInvokes, 0);
});
