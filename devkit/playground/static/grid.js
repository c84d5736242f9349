'use strict';
// The workbook view: sheet tabs and a grid from A1 on, showing each cell's displayed text with
// the formats the stand-in add-in keeps. The server sends the whole workbook after each change
// ({sheets: [{name, active, rows, columns, truncated, columnWidths, cells: [{r, c, text, kind,
// bold, italic, color, fill, align}]}]}); the sheet the person picked stays shown while it exists.

(function (global) {
  const MIN_ROWS = 30;
  const MIN_COLUMNS = 10;
  const DEFAULT_WIDTH = 64;
  const ROW_HEAD_WIDTH = 42;
  const ALIGN = { Left: 'left', Center: 'center', Right: 'right', Justify: 'justify' };

  function columnName(index) {
    let name = '';
    for (let n = index + 1; n > 0; n = Math.floor((n - 1) / 26)) name = String.fromCharCode(65 + ((n - 1) % 26)) + name;
    return name;
  }

  function el(tag, props = {}, text) {
    const node = document.createElement(tag);
    Object.assign(node, props);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  class WorkbookView {
    constructor(table, tabs) {
      this._table = table;
      this._tabs = tabs;
      this._sheets = [];
      this._shown = null;
    }

    update(sheets) {
      this._sheets = sheets;
      if (!sheets.some((s) => s.name === this._shown)) {
        const active = sheets.find((s) => s.active) || sheets[0];
        this._shown = active ? active.name : null;
      }
      this._renderTabs();
      this._renderGrid();
    }

    show(name) {
      this._shown = name;
      this._renderTabs();
      this._renderGrid();
    }

    _renderTabs() {
      this._tabs.replaceChildren(...this._sheets.map((sheet) => {
        const tab = el('button', { type: 'button', className: 'sheet-tab', role: 'tab' }, sheet.name);
        tab.setAttribute('aria-selected', String(sheet.name === this._shown));
        tab.addEventListener('click', () => this.show(sheet.name));
        return tab;
      }));
    }

    _renderGrid() {
      const sheet = this._sheets.find((s) => s.name === this._shown);
      const table = this._table;
      table.replaceChildren();
      if (!sheet) return;
      const rows = Math.max(sheet.rows + 1, MIN_ROWS);
      const columns = Math.max(sheet.columns + 1, MIN_COLUMNS);
      table.dataset.sheet = sheet.name;

      // The stand-in keeps widths in points, as Office.js does (CSS has 4 pixels to 3 points); a
      // fixed table layout keeps them whatever the cells hold.
      const colgroup = el('colgroup');
      colgroup.append(el('col', { className: 'row-head' }));
      let total = ROW_HEAD_WIDTH;
      for (let c = 0; c < columns; c += 1) {
        const points = sheet.columnWidths[c] !== undefined ? sheet.columnWidths[c] : DEFAULT_WIDTH;
        const width = Math.max(Math.round((points * 4) / 3), 8);
        const col = el('col');
        col.style.width = `${width}px`;
        colgroup.append(col);
        total += width;
      }
      table.style.width = `${total}px`;
      table.append(colgroup);

      const head = el('tr');
      head.append(el('th', { className: 'corner' }));
      for (let c = 0; c < columns; c += 1) head.append(el('th', { scope: 'col' }, columnName(c)));
      const thead = el('thead');
      thead.append(head);
      table.append(thead);

      const body = el('tbody');
      const cells = new Map(sheet.cells.map((cell) => [cell.r * columns + cell.c, cell]));
      for (let r = 0; r < rows; r += 1) {
        const tr = el('tr');
        tr.append(el('th', { scope: 'row' }, String(r + 1)));
        for (let c = 0; c < columns; c += 1) {
          const cell = cells.get(r * columns + c);
          const td = el('td');
          if (cell) this._fill(td, cell, columnName(c) + (r + 1));
          tr.append(td);
        }
        body.append(tr);
      }
      table.append(body);
      if (sheet.truncated) {
        const note = el('caption', {}, `Only the first ${sheet.rows} rows and ${sheet.columns} columns are shown.`);
        table.prepend(note);
      }
    }

    _fill(td, cell, address) {
      td.textContent = cell.text;
      td.dataset.address = address;
      td.className = `k-${cell.kind}`;
      if (cell.bold) td.style.fontWeight = 'bold';
      if (cell.italic) td.style.fontStyle = 'italic';
      if (cell.color) td.style.color = cell.color;
      if (cell.fill) td.style.backgroundColor = cell.fill;
      if (ALIGN[cell.align]) td.style.textAlign = ALIGN[cell.align];
    }
  }

  global.WorkbookView = WorkbookView;
}(window));
