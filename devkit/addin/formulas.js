'use strict';
// A small formula engine, enough for the formulas scripts write: arithmetic, comparison and
// text joining over numbers, text, booleans and cell references (with sheet prefixes and ranges),
// and the functions SUM, AVERAGE, MIN, MAX, COUNT, COUNTA, ROUND, ABS, IF and CONCAT. Formulas are
// evaluated when read, so they always see current cell values. Errors come out as Excel's error
// texts (#DIV/0!, #VALUE!, #NAME?, #REF!); a formula that depends on itself gives #CIRC!.

const { parseAddress } = require('./address');
const { DateValue } = require('./values');

class FormulaError {
  constructor(code) {
    this.code = code;
  }
}

const TOKEN = new RegExp([
  String.raw`(?<ws>\s+)`,
  String.raw`(?<num>\d+(?:\.\d*)?(?:[eE][+-]?\d+)?|\.\d+(?:[eE][+-]?\d+)?)`,
  String.raw`(?<str>"(?:[^"]|"")*")`,
  String.raw`(?<ref>(?:(?:'(?:[^']|'')+'|[A-Za-z_][A-Za-z0-9_.]*)!)?\$?[A-Za-z]{1,3}\$?\d+(?::\$?[A-Za-z]{1,3}\$?\d+)?(?![A-Za-z0-9_(]))`,
  String.raw`(?<name>[A-Za-z_][A-Za-z0-9_.]*)`,
  String.raw`(?<op><>|<=|>=|[-+*/^&=<>(),%:])`,
].join('|'), 'y');

function tokenize(text) {
  const tokens = [];
  TOKEN.lastIndex = 0;
  while (TOKEN.lastIndex < text.length) {
    const start = TOKEN.lastIndex;
    const m = TOKEN.exec(text);
    if (!m) throw new FormulaError('#NAME?');
    const g = m.groups;
    if (g.ws !== undefined) continue;
    if (g.num !== undefined) tokens.push({ kind: 'num', value: Number(g.num) });
    else if (g.str !== undefined) tokens.push({ kind: 'str', value: g.str.slice(1, -1).replace(/""/g, '"') });
    else if (g.ref !== undefined) tokens.push({ kind: 'ref', value: g.ref });
    else if (g.name !== undefined) tokens.push({ kind: 'name', value: g.name });
    else tokens.push({ kind: 'op', value: g.op });
    if (TOKEN.lastIndex === start) throw new FormulaError('#NAME?');
  }
  return tokens;
}

class RangeRef {
  constructor(sheet, rect) {
    this.sheet = sheet;
    this.rect = rect;
  }

  *values(ctx) {
    for (let r = this.rect.top; r <= this.rect.bottom; r += 1) {
      for (let c = this.rect.left; c <= this.rect.right; c += 1) yield ctx.cellValue(this.sheet, r, c);
    }
  }

  isSingleCell() {
    return this.rect.top === this.rect.bottom && this.rect.left === this.rect.right;
  }
}

class Parser {
  constructor(tokens, ctx) {
    this.tokens = tokens;
    this.pos = 0;
    this.ctx = ctx;
  }

  peek() { return this.tokens[this.pos]; }

  isOp(value) {
    const t = this.peek();
    return t && t.kind === 'op' && t.value === value;
  }

  expect(value) {
    if (!this.isOp(value)) throw new FormulaError('#NAME?');
    this.pos += 1;
  }

  parse() {
    const v = this.comparison();
    if (this.pos !== this.tokens.length) throw new FormulaError('#NAME?');
    return v;
  }

  binary(next, ops, apply) {
    let left = next();
    for (;;) {
      const t = this.peek();
      if (!t || t.kind !== 'op' || !ops.includes(t.value)) return left;
      this.pos += 1;
      left = apply(t.value, left, next());
    }
  }

  comparison() {
    return this.binary(() => this.concat(), ['=', '<>', '<', '>', '<=', '>='], (op, a, b) => compare(op, this.scalar(a), this.scalar(b)));
  }

  concat() {
    return this.binary(() => this.additive(), ['&'], (op, a, b) => toText(this.scalar(a)) + toText(this.scalar(b)));
  }

  additive() {
    return this.binary(() => this.term(), ['+', '-'], (op, a, b) => {
      const x = toNumber(this.scalar(a));
      const y = toNumber(this.scalar(b));
      return op === '+' ? x + y : x - y;
    });
  }

  term() {
    return this.binary(() => this.power(), ['*', '/'], (op, a, b) => {
      const x = toNumber(this.scalar(a));
      const y = toNumber(this.scalar(b));
      if (op === '/' && y === 0) throw new FormulaError('#DIV/0!');
      return op === '*' ? x * y : x / y;
    });
  }

  power() {
    return this.binary(() => this.unary(), ['^'], (op, a, b) => toNumber(this.scalar(a)) ** toNumber(this.scalar(b)));
  }

  unary() {
    if (this.isOp('-')) { this.pos += 1; return -toNumber(this.scalar(this.unary())); }
    if (this.isOp('+')) { this.pos += 1; return this.unary(); }
    let v = this.primary();
    if (this.isOp('%')) { this.pos += 1; v = toNumber(this.scalar(v)) / 100; }
    return v;
  }

  primary() {
    const t = this.peek();
    if (!t) throw new FormulaError('#NAME?');
    this.pos += 1;
    if (t.kind === 'num' || t.kind === 'str') return t.value;
    if (t.kind === 'ref') return this.ctx.reference(t.value);
    if (t.kind === 'op' && t.value === '(') {
      const v = this.comparison();
      this.expect(')');
      return v;
    }
    if (t.kind === 'name') {
      const upper = t.value.toUpperCase();
      if (this.isOp('(')) {
        this.pos += 1;
        const args = [];
        if (!this.isOp(')')) {
          for (;;) {
            args.push(this.comparison());
            if (this.isOp(',')) { this.pos += 1; continue; }
            break;
          }
        }
        this.expect(')');
        return callFunction(upper, args, this);
      }
      if (upper === 'TRUE') return true;
      if (upper === 'FALSE') return false;
    }
    throw new FormulaError('#NAME?');
  }

  scalar(v) {
    if (v instanceof RangeRef) {
      if (!v.isSingleCell()) throw new FormulaError('#VALUE!');
      return this.ctx.cellValue(v.sheet, v.rect.top, v.rect.left);
    }
    if (typeof v === 'string' && /^#[A-Z0-9/]+[!?A]?$/.test(v) && ERROR_CODES.has(v)) throw new FormulaError(v);
    return v;
  }

  *flatten(args) {
    for (const a of args) {
      if (a instanceof RangeRef) yield* a.values(this.ctx);
      else yield this.scalar(a);
    }
  }
}

const ERROR_CODES = new Set(['#DIV/0!', '#VALUE!', '#NAME?', '#REF!', '#NUM!', '#N/A', '#CIRC!']);

function toNumber(v) {
  if (typeof v === 'number') return v;
  if (typeof v === 'boolean') return v ? 1 : 0;
  if (v === null || v === undefined || v === '') return 0;
  if (v instanceof DateValue) return v.serial();
  if (typeof v === 'string') {
    if (ERROR_CODES.has(v)) throw new FormulaError(v);
    const n = Number(v);
    if (v.trim() !== '' && !Number.isNaN(n)) return n;
  }
  throw new FormulaError('#VALUE!');
}

function toText(v) {
  if (v === null || v === undefined) return '';
  if (typeof v === 'boolean') return v ? 'TRUE' : 'FALSE';
  if (typeof v === 'number') return String(Number(v.toPrecision(15)));
  return String(v);
}

function compare(op, a, b) {
  const norm = (v) => (v instanceof DateValue ? v.serial() : (v === null || v === undefined ? '' : v));
  let x = norm(a);
  let y = norm(b);
  if (typeof x === 'string' && typeof y === 'string') { x = x.toLowerCase(); y = y.toLowerCase(); }
  switch (op) {
    case '=': return x === y;
    case '<>': return x !== y;
    case '<': return x < y;
    case '>': return x > y;
    case '<=': return x <= y;
    default: return x >= y;
  }
}

function numbersOf(parser, args) {
  const out = [];
  for (const v of parser.flatten(args)) {
    if (typeof v === 'string' && ERROR_CODES.has(v)) throw new FormulaError(v);
    if (typeof v === 'number') out.push(v);
    else if (v instanceof DateValue) out.push(v.serial());
  }
  return out;
}

function callFunction(name, args, parser) {
  switch (name) {
    case 'SUM': return numbersOf(parser, args).reduce((a, b) => a + b, 0);
    case 'AVERAGE': {
      const nums = numbersOf(parser, args);
      if (nums.length === 0) throw new FormulaError('#DIV/0!');
      return nums.reduce((a, b) => a + b, 0) / nums.length;
    }
    case 'MIN': { const n = numbersOf(parser, args); return n.length ? Math.min(...n) : 0; }
    case 'MAX': { const n = numbersOf(parser, args); return n.length ? Math.max(...n) : 0; }
    case 'COUNT': return numbersOf(parser, args).length;
    case 'COUNTA': return [...parser.flatten(args)].filter((v) => v !== '' && v !== null && v !== undefined).length;
    case 'ABS': return Math.abs(toNumber(parser.scalar(args[0])));
    case 'ROUND': {
      const x = toNumber(parser.scalar(args[0]));
      const digits = args.length > 1 ? toNumber(parser.scalar(args[1])) : 0;
      const f = 10 ** digits;
      return Math.sign(x) * Math.round(Math.abs(x) * f + 1e-9) / f;
    }
    case 'IF': {
      const cond = parser.scalar(args[0]);
      const truthy = typeof cond === 'string' ? cond !== '' : Boolean(toNumber(cond));
      if (truthy) return args.length > 1 ? parser.scalar(args[1]) : true;
      return args.length > 2 ? parser.scalar(args[2]) : false;
    }
    case 'CONCAT': return [...parser.flatten(args)].map(toText).join('');
    default: throw new FormulaError('#NAME?');
  }
}

// ctx: {reference(text) -> RangeRef, cellValue(sheet, row, column) -> value}
function evaluate(formula, ctx) {
  try {
    const tokens = tokenize(formula.replace(/^=/, ''));
    const v = new Parser(tokens, ctx).parse();
    if (v instanceof RangeRef) {
      if (!v.isSingleCell()) return '#VALUE!';
      const cell = ctx.cellValue(v.sheet, v.rect.top, v.rect.left);
      return cell === null || cell === undefined || cell === '' ? 0 : cell;
    }
    if (typeof v === 'number' && !Number.isFinite(v)) return '#NUM!';
    return v;
  } catch (err) {
    if (err instanceof FormulaError) return err.code;
    throw err;
  }
}

// Resolves a reference text against the sheet that holds the formula.
function makeReference(text, homeSheet, workbook) {
  let rect;
  try {
    rect = parseAddress(text);
  } catch (err) {
    throw new FormulaError('#REF!');
  }
  const sheet = rect.sheet === null ? homeSheet : workbook._findWorksheet(rect.sheet);
  if (!sheet) throw new FormulaError('#REF!');
  return new RangeRef(sheet, rect);
}

module.exports = { evaluate, makeReference, FormulaError, RangeRef };
