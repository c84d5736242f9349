'use strict';
// A rectangle of cells on one worksheet: addresses, values, formulas, number formats, the text
// Excel would show, and the methods that derive other ranges from it.

const { HostObject } = require('./host_object');
const { RemoteError } = require('./errors');
const { formatAddress, formatLocal, MAX_ROWS, MAX_COLUMNS } = require('./address');
const { DateValue } = require('./values');
const { RangeFormat } = require('./range_format');

// Reading or writing more cells than this in one request is refused, as the real host refuses
// oversized payloads; whole-column addresses such as A:A are meant for getUsedRange, not values.
const MAX_CELLS = 200000;

class Range extends HostObject {
  constructor(sheet, rect) {
    super();
    this._sheet = sheet;
    this._rect = { top: rect.top, left: rect.left, bottom: rect.bottom, right: rect.right };
  }

  get address() {
    this._sheet._checkAlive();
    return formatAddress(this._sheet._name, this._rect);
  }

  get addressLocal() {
    return this.address;
  }

  get worksheet() {
    this._sheet._checkAlive();
    return this._sheet;
  }

  get rowIndex() { return this._rect.top; }

  get columnIndex() { return this._rect.left; }

  get rowCount() { return this._rect.bottom - this._rect.top + 1; }

  get columnCount() { return this._rect.right - this._rect.left + 1; }

  get cellCount() { return this.rowCount * this.columnCount; }

  get values() {
    return this._grid((r, c) => this._sheet._value(r, c));
  }

  set values(input) {
    this._write(input, 'values', (r, c, v) => {
      if (typeof v === 'string' && v.startsWith('=') && v.length > 1) {
        this._sheet._update(r, c, { value: '', formula: v });
      } else {
        this._sheet._update(r, c, { value: v, formula: null });
      }
    }, checkCellValue);
    this._sheet._changed(this._rect, 'RangeEdited');
  }

  get formulas() {
    return this._grid((r, c) => this._sheet._formula(r, c));
  }

  set formulas(input) {
    this._write(input, 'formulas', (r, c, v) => {
      if (typeof v === 'string' && v.startsWith('=') && v.length > 1) this._sheet._update(r, c, { value: '', formula: v });
      else this._sheet._update(r, c, { value: v, formula: null });
    }, checkCellValue);
    this._sheet._changed(this._rect, 'RangeEdited');
  }

  get numberFormat() {
    return this._grid((r, c) => this._sheet._numberFormat(r, c));
  }

  set numberFormat(input) {
    this._write(input, 'numberFormat', (r, c, v) => this._sheet._update(r, c, { numberFormat: v }), (v, where) => {
      if (typeof v !== 'string') throw new RemoteError(`A number format must be text (got ${describe(v)} ${where})`);
    });
  }

  get text() {
    return this._grid((r, c) => this._sheet._text(r, c));
  }

  get format() {
    this._sheet._checkAlive();
    return new RangeFormat(this);
  }

  get valueTypes() {
    return this._grid((r, c) => valueType(this._sheet._value(r, c)));
  }

  getCell(row, column) {
    const r = toIndex(row, 'row');
    const c = toIndex(column, 'column');
    if (r >= this.rowCount || c >= this.columnCount) {
      throw new RemoteError(
        `Cell (${r}, ${c}) is outside ${this.address}, which has ${this.rowCount} rows and ${this.columnCount} columns (indexes start at 0)`);
    }
    return this._derive(this._rect.top + r, this._rect.left + c, 1, 1);
  }

  getOffsetRange(rowOffset, columnOffset) {
    return this._derive(this._rect.top + toInt(rowOffset, 'rowOffset'), this._rect.left + toInt(columnOffset, 'columnOffset'),
      this.rowCount, this.columnCount);
  }

  getResizedRange(deltaRows, deltaColumns) {
    return this._derive(this._rect.top, this._rect.left,
      this.rowCount + toInt(deltaRows, 'deltaRows'), this.columnCount + toInt(deltaColumns, 'deltaColumns'));
  }

  getRow(row) {
    const r = toIndex(row, 'row');
    if (r >= this.rowCount) throw new RemoteError(`Row ${r} is outside ${this.address} (${this.rowCount} rows, indexes start at 0)`);
    return this._derive(this._rect.top + r, this._rect.left, 1, this.columnCount);
  }

  getColumn(column) {
    const c = toIndex(column, 'column');
    if (c >= this.columnCount) throw new RemoteError(`Column ${c} is outside ${this.address} (${this.columnCount} columns, indexes start at 0)`);
    return this._derive(this._rect.top, this._rect.left + c, this.rowCount, 1);
  }

  getLastRow() {
    return this.getRow(this.rowCount - 1);
  }

  getLastColumn() {
    return this.getColumn(this.columnCount - 1);
  }

  clear(applyTo = 'All') {
    this._sheet._checkAlive();
    if (!['All', 'Contents', 'Formats'].includes(applyTo)) {
      throw new RemoteError(`clear() takes 'All', 'Contents' or 'Formats', not ${JSON.stringify(applyTo)}`);
    }
    this._sheet._clear(this._rect, applyTo);
    if (applyTo !== 'Formats') this._sheet._changed(this._rect, 'RangeCleared');
    return null;
  }

  _derive(top, left, rows, columns) {
    this._sheet._checkAlive();
    const rect = { top, left, bottom: top + rows - 1, right: left + columns - 1 };
    if (rows < 1 || columns < 1 || top < 0 || left < 0 || rect.bottom >= MAX_ROWS || rect.right >= MAX_COLUMNS) {
      throw new RemoteError(`The requested range falls outside the worksheet '${this._sheet._name}'`);
    }
    return new Range(this._sheet, rect);
  }

  _checkSize() {
    this._sheet._checkAlive();
    if (this.cellCount > MAX_CELLS) {
      throw new RemoteError(
        `${this.address} has ${this.cellCount} cells, more than the ${MAX_CELLS} one request may carry; use getUsedRange() or a smaller address`);
    }
  }

  _grid(read) {
    this._checkSize();
    const rows = [];
    for (let r = this._rect.top; r <= this._rect.bottom; r += 1) {
      const row = [];
      for (let c = this._rect.left; c <= this._rect.right; c += 1) row.push(read(r, c));
      rows.push(row);
    }
    return rows;
  }

  // A 2-D input must match the range's shape; a single value fills every cell. As in Office.js,
  // null in the input leaves that cell unchanged.
  _write(input, what, store, check) {
    this._checkSize();
    const rows = this.rowCount;
    const columns = this.columnCount;
    const scalar = !Array.isArray(input);
    if (!scalar) {
      const shapeOk = input.length === rows && input.every((row) => Array.isArray(row) && row.length === columns);
      if (!shapeOk) {
        throw new RemoteError(
          `The number of rows or columns in the input array doesn't match the size or dimensions of the range: `
          + `${this.address} is ${rows}x${columns}, the ${what} given are ${shapeOf(input)}`);
      }
    }
    for (let r = 0; r < rows; r += 1) {
      for (let c = 0; c < columns; c += 1) {
        const v = scalar ? input : input[r][c];
        if (v !== null && v !== undefined) check(v, `at row ${r}, column ${c}`);
      }
    }
    for (let r = 0; r < rows; r += 1) {
      for (let c = 0; c < columns; c += 1) {
        const v = scalar ? input : input[r][c];
        if (v !== null && v !== undefined) store(this._rect.top + r, this._rect.left + c, v);
      }
    }
  }
}
Range.typeName = 'Range';
Range.signatures = {
  getCell: ['row', 'column'], getOffsetRange: ['rowOffset', 'columnOffset'],
  getResizedRange: ['deltaRows', 'deltaColumns'], getRow: ['row'], getColumn: ['column'],
  clear: ['applyTo'], load: ['propertyNames'],
};

function checkCellValue(v, where) {
  if (typeof v === 'number' || typeof v === 'string' || typeof v === 'boolean' || v instanceof DateValue) return;
  throw new RemoteError(`A cell can hold a number, text, a boolean or a date, not ${describe(v)} (${where})`);
}

function describe(v) {
  if (Array.isArray(v)) return 'a list';
  if (v && typeof v.typeName === 'string') return `a ${v.typeName} object`;
  if (v && typeof v === 'object' && v.constructor && v.constructor.name === 'PythonFunction') return 'a function';
  if (v && typeof v === 'object' && v.constructor && v.constructor.name === 'BytesValue') return 'bytes';
  if (v && typeof v === 'object') return 'a dictionary';
  return typeof v;
}

function shapeOf(input) {
  if (!input.every((row) => Array.isArray(row))) return `a flat list of ${input.length} (give a list of rows)`;
  const widths = [...new Set(input.map((row) => row.length))];
  return `${input.length}x${widths.length === 1 ? widths[0] : widths.join('/')}`;
}

function valueType(v) {
  if (v === '' || v === null || v === undefined) return 'Empty';
  if (typeof v === 'number') return Number.isFinite(v) ? 'Double' : 'Error';
  if (typeof v === 'boolean') return 'Boolean';
  if (typeof v === 'string' && /^#(DIV\/0!|VALUE!|NAME\?|REF!|NUM!|N\/A|CIRC!)$/.test(v)) return 'Error';
  if (v instanceof DateValue) return 'Double';
  return 'String';
}

function toInt(v, name) {
  if (typeof v !== 'number' || !Number.isInteger(v)) throw new RemoteError(`${name} must be an integer, got ${JSON.stringify(v)}`);
  return v;
}

function toIndex(v, name) {
  const n = toInt(v, name);
  if (n < 0) throw new RemoteError(`${name} must not be negative, got ${n}`);
  return n;
}

module.exports = { Range, MAX_CELLS, formatLocal };
