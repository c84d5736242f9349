'use strict';
// The workbook as a person sees it, for the playground's grid: every sheet from A1 to the end
// of its used range (cells with a value, a formula, a number format or a cell format), each
// non-empty cell with the text Excel would display, its kind (numbers are right-aligned) and the
// formats the stand-in keeps (bold, italic, font colour, fill, alignment), plus column widths.
// Big sheets are cut to MAX_ROWS x MAX_COLUMNS and say so.

const { MAX_COLUMNS: SHEET_COLUMNS } = require('./address');
const { DateValue } = require('./values');
const { DEFAULTS } = require('./range_format');

const MAX_ROWS = 500;
const MAX_COLUMNS = 60;
const ERROR_TEXT = /^#(DIV\/0!|VALUE!|NAME\?|REF!|NUM!|N\/A|CIRC!)$/;

function kindOf(value) {
  if (typeof value === 'number') return Number.isFinite(value) ? 'number' : 'error';
  if (typeof value === 'boolean') return 'boolean';
  if (value instanceof DateValue) return 'date';
  if (typeof value === 'string' && ERROR_TEXT.test(value)) return 'error';
  return 'text';
}

function sheetView(sheet, active) {
  let bottom = -1;
  let right = -1;
  const extend = (key) => {
    bottom = Math.max(bottom, Math.floor(key / SHEET_COLUMNS));
    right = Math.max(right, key % SHEET_COLUMNS);
  };
  for (const key of sheet._cells.keys()) extend(key);
  for (const key of sheet._formats.keys()) extend(key);
  const rows = Math.min(bottom + 1, MAX_ROWS);
  const columns = Math.min(right + 1, MAX_COLUMNS);

  const keys = new Set([...sheet._cells.keys(), ...sheet._formats.keys()]);
  const cells = [];
  for (const key of keys) {
    const r = Math.floor(key / SHEET_COLUMNS);
    const c = key % SHEET_COLUMNS;
    if (r >= rows || c >= columns) continue;
    const cell = { r, c, text: '', kind: 'text' };
    if (sheet._cells.has(key)) {
      let value;
      try {
        value = sheet._value(r, c);
        cell.text = sheet._text(r, c);
      } catch (err) {
        value = err && err.code ? err.code : '#VALUE!';
        cell.text = String(value);
      }
      cell.kind = kindOf(value);
    }
    const format = sheet._formats.get(key);
    if (format) {
      if (format.bold) cell.bold = true;
      if (format.italic) cell.italic = true;
      if (format.fill) cell.fill = format.fill;
      if (format.fontColor && format.fontColor !== DEFAULTS.fontColor) cell.color = format.fontColor;
      if (format.horizontalAlignment && format.horizontalAlignment !== 'General') cell.align = format.horizontalAlignment;
    }
    cells.push(cell);
  }
  cells.sort((a, b) => a.r - b.r || a.c - b.c);

  const widths = {};
  for (const [column, width] of sheet._columnWidths) if (column < MAX_COLUMNS) widths[column] = width;
  return {
    name: sheet._name,
    active,
    rows,
    columns,
    truncated: bottom + 1 > rows || right + 1 > columns,
    columnWidths: widths,
    cells,
  };
}

function workbookView(workbook) {
  return workbook._sheets.map((sheet) => sheetView(sheet, sheet === workbook._active));
}

module.exports = { workbookView };
