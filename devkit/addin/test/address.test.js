'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { parseAddress, formatAddress, columnName, columnIndex } = require('../address');

test('column letters round-trip across the one-, two- and three-letter boundaries', () => {
  for (const [i, name] of [[0, 'A'], [25, 'Z'], [26, 'AA'], [701, 'ZZ'], [702, 'AAA'], [16383, 'XFD']]) {
    assert.equal(columnName(i), name);
    assert.equal(columnIndex(name), i);
  }
});

test('addresses parse into inclusive zero-based rectangles, sheet prefixes included', () => {
  assert.deepEqual(parseAddress('B3'), { sheet: null, top: 2, left: 1, bottom: 2, right: 1 });
  assert.deepEqual(parseAddress('$C$4:a1'), { sheet: null, top: 0, left: 0, bottom: 3, right: 2 });
  assert.deepEqual(parseAddress("'It''s here'!A1:B2"), { sheet: "It's here", top: 0, left: 0, bottom: 1, right: 1 });
  assert.deepEqual(parseAddress('Data!B:C'), { sheet: 'Data', top: 0, left: 1, bottom: 1048575, right: 2 });
  assert.deepEqual(parseAddress('2:3').top, 1);
  assert.equal(formatAddress('Sheet1', parseAddress('A1:B2')), 'Sheet1!A1:B2');
  assert.equal(formatAddress('My Sheet', parseAddress('C3')), "'My Sheet'!C3");
  assert.equal(formatAddress('S', parseAddress('B:B')), 'S!B:B');
});

test('malformed addresses are refused with a message that shows valid forms', () => {
  for (const bad of ['', 'A0', 'A1:B', '1A', 'A1:B2:C3', 'XFE1', 'A1048577', '!A1', 'B', 'Sheet1!', 42]) {
    assert.throws(() => parseAddress(bad), /is not a valid A1 address \(examples:/, `accepted ${bad}`);
  }
});
