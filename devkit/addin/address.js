'use strict';
// A1 addresses: parsing "Sheet1!A1:B2", "'My Sheet'!$A$1", "A:C" and "2:4" into zero-based
// rectangles, and formatting rectangles back the way Excel prints them.

const { RemoteError } = require('./errors');

const MAX_ROWS = 1048576;
const MAX_COLUMNS = 16384;

function columnName(index) {
  let n = index + 1;
  let name = '';
  while (n > 0) {
    const rem = (n - 1) % 26;
    name = String.fromCharCode(65 + rem) + name;
    n = Math.floor((n - 1) / 26);
  }
  return name;
}

function columnIndex(letters) {
  let n = 0;
  for (const ch of letters.toUpperCase()) n = n * 26 + (ch.charCodeAt(0) - 64);
  return n - 1;
}

// One end of a range: a cell (B3), a whole column (B) or a whole row (3).
const PART = /^\$?([A-Za-z]{1,3})?\$?([0-9]{1,7})?$/;

function parsePart(text, address) {
  const m = PART.exec(text);
  if (!m || (m[1] === undefined && m[2] === undefined)) throw badAddress(address);
  const column = m[1] === undefined ? null : columnIndex(m[1]);
  const row = m[2] === undefined ? null : Number(m[2]) - 1;
  if ((column !== null && column >= MAX_COLUMNS) || (row !== null && (row < 0 || row >= MAX_ROWS))) {
    throw badAddress(address);
  }
  return { row, column };
}

function badAddress(address) {
  return new RemoteError(`The address '${address}' is not a valid A1 address (examples: A1, B2:D10, Sheet1!A1:C3, A:A, 2:5)`);
}

// Splits an optional sheet prefix off an address. A quoted sheet name doubles its own quotes.
function splitSheet(address) {
  if (address.startsWith("'")) {
    const m = /^'((?:[^']|'')+)'!(.*)$/.exec(address);
    if (!m) throw badAddress(address);
    return { sheet: m[1].replace(/''/g, "'"), local: m[2] };
  }
  const bang = address.lastIndexOf('!');
  if (bang < 0) return { sheet: null, local: address };
  if (bang === 0) throw badAddress(address);
  return { sheet: address.slice(0, bang), local: address.slice(bang + 1) };
}

// Returns {sheet, top, left, bottom, right} with inclusive zero-based bounds.
function parseAddress(address) {
  if (typeof address !== 'string' || address.trim() === '') throw badAddress(String(address));
  const { sheet, local } = splitSheet(address.trim());
  const pieces = local.split(':');
  if (pieces.length > 2) throw badAddress(address);
  const a = parsePart(pieces[0], address);
  const b = pieces.length === 2 ? parsePart(pieces[1], address) : a;
  const aKind = kind(a);
  if (aKind !== kind(b)) throw badAddress(address);
  if (pieces.length === 1 && aKind !== 'cell') throw badAddress(address);
  let top, bottom, left, right;
  if (aKind === 'column') {
    top = 0; bottom = MAX_ROWS - 1;
    left = Math.min(a.column, b.column); right = Math.max(a.column, b.column);
  } else if (aKind === 'row') {
    left = 0; right = MAX_COLUMNS - 1;
    top = Math.min(a.row, b.row); bottom = Math.max(a.row, b.row);
  } else {
    top = Math.min(a.row, b.row); bottom = Math.max(a.row, b.row);
    left = Math.min(a.column, b.column); right = Math.max(a.column, b.column);
  }
  return { sheet, top, left, bottom, right };
}

function kind(part) {
  if (part.row !== null && part.column !== null) return 'cell';
  return part.row === null ? 'column' : 'row';
}

function quoteSheet(name) {
  return /^[A-Za-z_][A-Za-z0-9_.]*$/.test(name) ? name : `'${name.replace(/'/g, "''")}'`;
}

function formatLocal({ top, left, bottom, right }) {
  if (top === 0 && bottom === MAX_ROWS - 1) return `${columnName(left)}:${columnName(right)}`;
  if (left === 0 && right === MAX_COLUMNS - 1) return `${top + 1}:${bottom + 1}`;
  const first = `${columnName(left)}${top + 1}`;
  if (top === bottom && left === right) return first;
  return `${first}:${columnName(right)}${bottom + 1}`;
}

function formatAddress(sheetName, rect) {
  return `${quoteSheet(sheetName)}!${formatLocal(rect)}`;
}

module.exports = {
  MAX_ROWS, MAX_COLUMNS, columnName, columnIndex, parseAddress, formatAddress, formatLocal, quoteSheet,
};
