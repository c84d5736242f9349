'use strict';
// The in-memory workbook: the workbook, its worksheet collection and the worksheets with their
// cells. A cell holds a constant value or a formula, plus a number format; formulas are evaluated
// when read.

const { HostObject, NullObject } = require('./host_object');
const { RemoteError } = require('./errors');
const { EventSource } = require('./events');
const { parseAddress, formatAddress, MAX_ROWS, MAX_COLUMNS } = require('./address');
const { evaluate, makeReference, FormulaError } = require('./formulas');
const { Range, MAX_CELLS } = require('./range');
const { formatValue } = require('./number_format');

const INVALID_SHEET_CHARS = /[[\]:*?/\\]/;

function cellKey(row, column) {
  return row * MAX_COLUMNS + column;
}

class Worksheet extends HostObject {
  constructor(workbook, name, id) {
    super();
    this._workbook = workbook;
    this._name = name;
    this._id = id;
    this._cells = new Map(); // cellKey -> {value, formula, numberFormat}
    this._formats = new Map(); // cellKey -> {bold, italic, ...}: only what differs from the defaults
    this._columnWidths = new Map();
    this._rowHeights = new Map();
    this._deleted = false;
    this._onChanged = new EventSource('onChanged', (text) => workbook._reportError(text));
  }

  _checkAlive() {
    if (this._deleted) throw new RemoteError(`The worksheet '${this._name}' has been deleted`, 'ItemNotFound');
  }

  get name() {
    this._checkAlive();
    return this._name;
  }

  set name(value) {
    this._checkAlive();
    this._workbook._validateSheetName(value, this);
    this._name = value;
  }

  get id() {
    return `{sheet-${this._id}}`;
  }

  get position() {
    this._checkAlive();
    return this._workbook._sheets.indexOf(this);
  }

  get onChanged() {
    this._checkAlive();
    return this._onChanged;
  }

  getRange(address) {
    this._checkAlive();
    if (address === undefined || address === null || address === '') {
      return new Range(this, { top: 0, left: 0, bottom: MAX_ROWS - 1, right: MAX_COLUMNS - 1 });
    }
    const rect = parseAddress(address);
    if (rect.sheet !== null && rect.sheet.toLowerCase() !== this._name.toLowerCase()) {
      throw new RemoteError(`The address '${address}' names worksheet '${rect.sheet}', but getRange was called on '${this._name}'`);
    }
    return new Range(this, rect);
  }

  getCell(row, column) {
    this._checkAlive();
    return this.getRange('A1').getOffsetRange(row, column);
  }

  // The smallest range holding every cell with a value or formula (and, unless valuesOnly, a
  // number format). An empty sheet gives A1, as Excel does.
  getUsedRange(valuesOnly = false) {
    this._checkAlive();
    const rect = this._usedRect(valuesOnly);
    return new Range(this, rect || { top: 0, left: 0, bottom: 0, right: 0 });
  }

  getUsedRangeOrNullObject(valuesOnly = false) {
    this._checkAlive();
    const rect = this._usedRect(valuesOnly);
    return rect ? new Range(this, rect) : new NullObject('Range');
  }

  activate() {
    this._checkAlive();
    this._workbook._active = this;
    return null;
  }

  delete() {
    this._checkAlive();
    this._workbook._deleteSheet(this);
    return null;
  }

  _usedRect(valuesOnly) {
    let rect = null;
    for (const [key, cell] of this._cells) {
      if (valuesOnly && cell.formula === null && isEmpty(cell.value)) continue;
      const row = Math.floor(key / MAX_COLUMNS);
      const column = key % MAX_COLUMNS;
      if (!rect) rect = { top: row, left: column, bottom: row, right: column };
      else {
        rect.top = Math.min(rect.top, row); rect.bottom = Math.max(rect.bottom, row);
        rect.left = Math.min(rect.left, column); rect.right = Math.max(rect.right, column);
      }
    }
    return rect;
  }

  _cell(row, column) {
    return this._cells.get(cellKey(row, column));
  }

  _update(row, column, change) {
    const key = cellKey(row, column);
    const cell = Object.assign({ value: '', formula: null, numberFormat: 'General' }, this._cells.get(key), change);
    if (isEmpty(cell.value) && cell.formula === null && cell.numberFormat === 'General') this._cells.delete(key);
    else this._cells.set(key, cell);
  }

  _clear(rect, what) {
    if (what !== 'Contents') {
      for (const key of [...this._formats.keys()]) {
        const row = Math.floor(key / MAX_COLUMNS);
        const column = key % MAX_COLUMNS;
        if (row >= rect.top && row <= rect.bottom && column >= rect.left && column <= rect.right) this._formats.delete(key);
      }
    }
    for (const [key, cell] of [...this._cells]) {
      const row = Math.floor(key / MAX_COLUMNS);
      const column = key % MAX_COLUMNS;
      if (row < rect.top || row > rect.bottom || column < rect.left || column > rect.right) continue;
      if (what === 'Contents') this._update(row, column, { value: '', formula: null });
      else if (what === 'Formats') this._update(row, column, { numberFormat: 'General' });
      else this._cells.delete(key);
    }
  }

  _cellFormat(row, column, key, fallback) {
    const format = this._formats.get(cellKey(row, column));
    return format && Object.prototype.hasOwnProperty.call(format, key) ? format[key] : fallback;
  }

  _setCellFormat(rect, key, value) {
    for (let r = rect.top; r <= rect.bottom; r += 1) {
      for (let c = rect.left; c <= rect.right; c += 1) {
        const k = cellKey(r, c);
        const format = this._formats.get(k) || {};
        format[key] = value;
        this._formats.set(k, format);
      }
    }
  }

  _columnWidth(column) {
    return this._columnWidths.has(column) ? this._columnWidths.get(column) : 64;
  }

  _rowHeight(row) {
    return this._rowHeights.has(row) ? this._rowHeights.get(row) : 15;
  }

  _text(row, column) {
    return formatValue(this._value(row, column), this._numberFormat(row, column));
  }

  _numberFormat(row, column) {
    const cell = this._cell(row, column);
    return cell ? cell.numberFormat : 'General';
  }

  _formula(row, column) {
    const cell = this._cell(row, column);
    if (!cell) return '';
    return cell.formula !== null ? cell.formula : cell.value;
  }

  // The value shown in the cell, formulas evaluated.
  _value(row, column) {
    return this._workbook._cellValue(this, row, column);
  }

  _changed(rect, changeType) {
    this._onChanged._fire({
      type: 'WorksheetChanged',
      changeType,
      source: 'Local',
      worksheetId: this.id,
      worksheetName: this._name,
      address: formatAddress(this._name, rect).split('!')[1],
    });
  }
}
Worksheet.typeName = 'Worksheet';
Worksheet.signatures = {
  getRange: ['address'], getCell: ['row', 'column'], getUsedRange: ['valuesOnly'],
  getUsedRangeOrNullObject: ['valuesOnly'], load: ['propertyNames'],
};

function isEmpty(value) {
  return value === '' || value === null || value === undefined;
}

class WorksheetCollection extends HostObject {
  constructor(workbook) {
    super();
    this._workbook = workbook;
  }

  get items() {
    return [...this._workbook._sheets];
  }

  getCount() {
    return this._workbook._sheets.length;
  }

  getItem(key) {
    const sheet = this._workbook._findWorksheet(key);
    if (!sheet) {
      const names = this._workbook._sheets.map((s) => `'${s._name}'`).join(', ');
      throw new RemoteError(`The worksheet '${key}' does not exist (the workbook has ${names})`, 'ItemNotFound');
    }
    return sheet;
  }

  getItemOrNullObject(key) {
    return this._workbook._findWorksheet(key) || new NullObject('Worksheet');
  }

  add(name) {
    return this._workbook._addSheet(name === undefined || name === null ? null : name);
  }

  getActiveWorksheet() {
    return this._workbook._active;
  }

  getFirst() {
    return this._workbook._sheets[0];
  }

  getLast() {
    return this._workbook._sheets[this._workbook._sheets.length - 1];
  }
}
WorksheetCollection.typeName = 'WorksheetCollection';
WorksheetCollection.signatures = {
  getItem: ['key'], getItemOrNullObject: ['key'], add: ['name'], load: ['propertyNames'],
};

class Workbook extends HostObject {
  constructor(reportError = () => {}) {
    super();
    this._sheets = [];
    this._nextSheetId = 1;
    this._reportError = reportError;
    this._worksheets = new WorksheetCollection(this);
    this._evaluating = new Set();
    this._active = this._addSheet('Sheet1');
  }

  get name() {
    return 'Book1.xlsx';
  }

  get worksheets() {
    return this._worksheets;
  }

  // Removes every sheet's event handlers; returns how many there were.
  _dropHandlers() {
    return this._sheets.reduce((count, sheet) => count + sheet._onChanged._clear(), 0);
  }

  _findWorksheet(name) {
    if (typeof name !== 'string') return null;
    const lower = name.toLowerCase();
    return this._sheets.find((s) => s._name.toLowerCase() === lower) || null;
  }

  _validateSheetName(name, self) {
    if (typeof name !== 'string' || name.trim() === '' || name.length > 31 || INVALID_SHEET_CHARS.test(name)
        || name.startsWith("'") || name.endsWith("'")) {
      throw new RemoteError(
        `'${name}' is not a valid worksheet name: use 1 to 31 characters, none of [ ] : * ? / \\, not starting or ending with an apostrophe`);
    }
    const existing = this._findWorksheet(name);
    if (existing && existing !== self) throw new RemoteError(`A worksheet named '${existing._name}' already exists`, 'ItemAlreadyExists');
  }

  _addSheet(name) {
    let sheetName = name;
    if (sheetName === null) {
      let n = this._sheets.length + 1;
      while (this._findWorksheet(`Sheet${n}`)) n += 1;
      sheetName = `Sheet${n}`;
    }
    this._validateSheetName(sheetName, null);
    const sheet = new Worksheet(this, sheetName, this._nextSheetId++);
    this._sheets.push(sheet);
    return sheet;
  }

  _deleteSheet(sheet) {
    if (this._sheets.length === 1) {
      throw new RemoteError(`The worksheet '${sheet._name}' is the only one in the workbook and cannot be deleted`);
    }
    this._sheets.splice(this._sheets.indexOf(sheet), 1);
    sheet._deleted = true;
    if (this._active === sheet) this._active = this._sheets[0];
  }

  _cellValue(sheet, row, column) {
    const cell = sheet._cell(row, column);
    if (!cell) return '';
    if (cell.formula === null) return cell.value;
    const key = `${sheet._id}:${cellKey(row, column)}`;
    if (this._evaluating.has(key)) throw new FormulaError('#CIRC!');
    this._evaluating.add(key);
    try {
      return evaluate(cell.formula, {
        reference: (text) => makeReference(text, sheet, this),
        cellValue: (s, r, c) => this._cellValue(s, r, c),
      });
    } finally {
      this._evaluating.delete(key);
    }
  }

  // Plain-data picture of every sheet's used range (values and displayed text), for the kernel's
  // printout and for tests. Only the top-left `maxRows` x `maxColumns` cells are included (all
  // when not given), and never more than one request may carry, so that a large workbook gives a
  // clipped view rather than an error; `rowCount` and `columnCount` give the whole used range.
  _snapshot({ maxRows = null, maxColumns = null } = {}) {
    return this._sheets.map((sheet) => {
      const rect = sheet._usedRect(false);
      if (!rect) {
        return { name: sheet._name, address: null, rowIndex: 0, columnIndex: 0, rowCount: 0, columnCount: 0, values: [], text: [] };
      }
      const used = new Range(sheet, rect);
      const columns = Math.min(used.columnCount, limit(maxColumns, used.columnCount));
      const rows = Math.min(used.rowCount, limit(maxRows, used.rowCount), Math.max(1, Math.floor(MAX_CELLS / columns)));
      const view = new Range(sheet, { top: rect.top, left: rect.left, bottom: rect.top + rows - 1, right: rect.left + columns - 1 });
      return {
        name: sheet._name, address: used.address, rowIndex: rect.top, columnIndex: rect.left,
        rowCount: used.rowCount, columnCount: used.columnCount, values: view.values, text: view.text,
      };
    });
  }
}

function limit(value, fallback) {
  return Number.isInteger(value) && value >= 0 ? value : fallback;
}
Workbook.typeName = 'Workbook';

module.exports = { Workbook, Worksheet, WorksheetCollection };
