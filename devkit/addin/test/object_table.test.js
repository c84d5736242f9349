'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { ObjectTable } = require('../object_table');

test('an object handed out twice keeps its id until both references are released', () => {
  const table = new ObjectTable(3);
  const sheet = { typeName: 'Worksheet' };
  const id = table.retain(sheet);
  assert.equal(table.retain(sheet), id);
  table.release(id);
  assert.equal(table.get(id), sheet, 'freed on the first of two releases');
  table.release(id);
  assert.throws(() => table.get(id), /has been released/);
  assert.equal(table.size, 0);
  assert.notEqual(table.retain(sheet), id, 'ids are never reused');
});

test('pinned roots ignore releases; unknown ids are told apart from released ones', () => {
  const table = new ObjectTable(3);
  const root = { typeName: 'Excel' };
  table.pin(1, root);
  table.release(1);
  table.release(1);
  assert.equal(table.get(1), root);
  assert.throws(() => table.get(500), /unknown to this add-in/);
  assert.throws(() => table.release(500), /unknown to this add-in/);
});
