'use strict';
// Cell formatting as Office.js exposes it on a range: range.format (alignment, column width,
// row height, autofit), range.format.font (bold, italic, color, size, name) and
// range.format.fill (color). Reading a property gives the common value of all cells, or null
// when they differ, as Office.js does. Formats are kept per cell on the worksheet.

const { HostObject } = require('./host_object');
const { RemoteError } = require('./errors');

const DEFAULTS = {
  bold: false, italic: false, fontColor: '#000000', size: 11, fontName: 'Calibri', fill: null, horizontalAlignment: 'General',
};
const ALIGNMENTS = ['General', 'Left', 'Center', 'Right', 'Fill', 'Justify', 'CenterAcrossSelection', 'Distributed'];

function common(range, key) {
  const { top, left, bottom, right } = range._rect;
  if ((bottom - top + 1) * (right - left + 1) > 200000) return null;
  let value;
  for (let r = top; r <= bottom; r += 1) {
    for (let c = left; c <= right; c += 1) {
      const v = range._sheet._cellFormat(r, c, key, DEFAULTS[key]);
      if (value === undefined) value = v;
      else if (v !== value) return null;
    }
  }
  return value;
}

function apply(range, key, value) {
  range._sheet._checkAlive();
  const { top, left, bottom, right } = range._rect;
  range._sheet._setCellFormat({ top, left, bottom, right }, key, value);
}

function expect(check, value, what) {
  if (!check(value)) throw new RemoteError(`${what} got ${JSON.stringify(value)}`);
  return value;
}

const isColor = (v) => typeof v === 'string' && /^(#[0-9A-Fa-f]{6}|[A-Za-z]+)$/.test(v);

class RangeFont extends HostObject {
  constructor(range) { super(); this._range = range; }

  get bold() { return common(this._range, 'bold'); }

  set bold(v) { apply(this._range, 'bold', expect((x) => typeof x === 'boolean', v, 'font.bold takes True or False;')); }

  get italic() { return common(this._range, 'italic'); }

  set italic(v) { apply(this._range, 'italic', expect((x) => typeof x === 'boolean', v, 'font.italic takes True or False;')); }

  get color() { return common(this._range, 'fontColor'); }

  set color(v) { apply(this._range, 'fontColor', expect(isColor, v, "font.color takes '#RRGGBB' or a color name;")); }

  get size() { return common(this._range, 'size'); }

  set size(v) { apply(this._range, 'size', expect((x) => typeof x === 'number' && x > 0 && x <= 409, v, 'font.size takes a number from 1 to 409;')); }

  get name() { return common(this._range, 'fontName'); }

  set name(v) { apply(this._range, 'fontName', expect((x) => typeof x === 'string' && x !== '', v, 'font.name takes a font name;')); }
}
RangeFont.typeName = 'RangeFont';

class RangeFill extends HostObject {
  constructor(range) { super(); this._range = range; }

  get color() { return common(this._range, 'fill'); }

  set color(v) { apply(this._range, 'fill', expect(isColor, v, "fill.color takes '#RRGGBB' or a color name;")); }

  clear() {
    apply(this._range, 'fill', null);
    return null;
  }
}
RangeFill.typeName = 'RangeFill';

class RangeFormat extends HostObject {
  constructor(range) { super(); this._range = range; }

  get font() { return new RangeFont(this._range); }

  get fill() { return new RangeFill(this._range); }

  get horizontalAlignment() { return common(this._range, 'horizontalAlignment'); }

  set horizontalAlignment(v) {
    apply(this._range, 'horizontalAlignment', expect((x) => ALIGNMENTS.includes(x), v, `horizontalAlignment takes one of ${ALIGNMENTS.join(', ')};`));
  }

  get columnWidth() {
    const sheet = this._range._sheet;
    const { left, right } = this._range._rect;
    const first = sheet._columnWidth(left);
    for (let c = left + 1; c <= right && c < left + 16384; c += 1) if (sheet._columnWidth(c) !== first) return null;
    return first;
  }

  set columnWidth(v) {
    expect((x) => typeof x === 'number' && x >= 0, v, 'columnWidth takes a width in points;');
    const { left, right } = this._range._rect;
    for (let c = left; c <= right; c += 1) this._range._sheet._columnWidths.set(c, v);
  }

  get rowHeight() {
    const sheet = this._range._sheet;
    const { top, bottom } = this._range._rect;
    const first = sheet._rowHeight(top);
    for (let r = top + 1; r <= bottom && r < top + 200000; r += 1) if (sheet._rowHeight(r) !== first) return null;
    return first;
  }

  set rowHeight(v) {
    expect((x) => typeof x === 'number' && x >= 0, v, 'rowHeight takes a height in points;');
    const { top, bottom } = this._range._rect;
    for (let r = top; r <= bottom; r += 1) this._range._sheet._rowHeights.set(r, v);
  }

  // Sizes columns to their longest displayed text (about 7 points per character).
  autofitColumns() {
    const range = this._range;
    const { left, right } = range._rect;
    const used = range._sheet._usedRect(true);
    for (let c = left; c <= right; c += 1) {
      let longest = 0;
      if (used && c >= used.left && c <= used.right) {
        for (let r = used.top; r <= used.bottom; r += 1) longest = Math.max(longest, range._sheet._text(r, c).length);
      }
      range._sheet._columnWidths.set(c, Math.max(8.43, longest) * 7);
    }
    return null;
  }

  autofitRows() {
    return null;
  }
}
RangeFormat.typeName = 'RangeFormat';

module.exports = { RangeFormat, RangeFont, RangeFill, DEFAULTS };
