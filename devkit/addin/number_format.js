'use strict';
// Turns a cell value and its number format into the text Excel would show (Range.text, and the
// grid the kernel prints). Covers the formats scripts commonly set: General, text (@), fixed
// decimals, thousands separators, percentages, currency prefixes, scientific notation, sections
// for negatives, and date/time patterns (12-hour ones too). Anything else falls back to General.

const { DateValue, BytesValue } = require('./values');

function formatGeneral(value) {
  if (value === null || value === undefined || value === '') return '';
  if (typeof value === 'boolean') return value ? 'TRUE' : 'FALSE';
  if (typeof value === 'number') {
    if (!Number.isFinite(value)) return '#NUM!';
    if (Number.isInteger(value) && Math.abs(value) < 1e11) return String(value);
    const abs = Math.abs(value);
    if (abs !== 0 && (abs >= 1e11 || abs < 1e-9)) {
      const [mantissa, exponent] = value.toExponential(5).split('e');
      return `${mantissa.replace(/\.?0+$/, '')}E${exponent[0]}${exponent.slice(1).padStart(2, '0')}`;
    }
    return String(Number(value.toPrecision(10)));
  }
  if (value instanceof DateValue) {
    const p = value.parts();
    if (!p) return value.iso;
    const date = `${p.year}-${pad(p.month)}-${pad(p.day)}`;
    return p.hour || p.minute || p.second ? `${date} ${pad(p.hour)}:${pad(p.minute)}:${pad(p.second)}` : date;
  }
  if (value instanceof BytesValue) return value.toString();
  return String(value);
}

function pad(n, width = 2) {
  return String(n).padStart(width, '0');
}

function isDateFormat(section) {
  return /[yd]|h|(^|[^0#])m/i.test(section.replace(/"[^"]*"/g, '').replace(/\[[^\]]*\]/g, ''))
    && !/[0#]/.test(section.replace(/"[^"]*"/g, ''));
}

function dateParts(value) {
  if (value instanceof DateValue) return value.parts();
  if (typeof value === 'number' && Number.isFinite(value)) {
    const ms = Math.round((value - 25569) * 86400000);
    const d = new Date(ms);
    return {
      year: d.getUTCFullYear(), month: d.getUTCMonth() + 1, day: d.getUTCDate(),
      hour: d.getUTCHours(), minute: d.getUTCMinutes(), second: d.getUTCSeconds(),
    };
  }
  return null;
}

const MONTHS = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September',
  'October', 'November', 'December'];
const DAYS = ['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];

function weekday(p) {
  return new Date(Date.UTC(p.year, p.month - 1, p.day)).getUTCDay();
}

function formatDate(value, pattern) {
  const p = dateParts(value);
  if (!p) return formatGeneral(value);
  const tokens = pattern.match(/"[^"]*"|am\/pm|a\/p|yyyy|yy|mmmm|mmm|mm|m|dddd|ddd|dd|d|hh|h|ss|s|\\.|./gi) || [];
  const twelveHour = tokens.some((t) => /^(am\/pm|a\/p)$/i.test(t));
  const hour = twelveHour ? (p.hour % 12 || 12) : p.hour;
  let out = '';
  let sawHour = false;
  for (const [index, tok] of tokens.entries()) {
    const lower = tok.toLowerCase();
    // m and mm are minutes right after an hour or right before seconds, months otherwise.
    const minutes = sawHour || secondsFollow(tokens, index);
    if (tok.startsWith('"')) out += tok.slice(1, -1);
    else if (tok.startsWith('\\')) out += tok.slice(1);
    else if (lower === 'yyyy') out += pad(p.year, 4);
    else if (lower === 'yy') out += pad(p.year % 100);
    else if (lower === 'mmmm') out += MONTHS[p.month - 1];
    else if (lower === 'mmm') out += MONTHS[p.month - 1].slice(0, 3);
    else if (lower === 'dddd') out += DAYS[weekday(p)];
    else if (lower === 'ddd') out += DAYS[weekday(p)].slice(0, 3);
    else if (lower === 'mm') { out += minutes ? pad(p.minute) : pad(p.month); sawHour = false; }
    else if (lower === 'm') { out += minutes ? String(p.minute) : String(p.month); sawHour = false; }
    else if (lower === 'dd') out += pad(p.day);
    else if (lower === 'd') out += String(p.day);
    else if (lower === 'hh') { out += pad(hour); sawHour = true; }
    else if (lower === 'h') { out += String(hour); sawHour = true; }
    else if (lower === 'ss') out += pad(p.second);
    else if (lower === 's') out += String(p.second);
    else if (lower === 'am/pm') out += p.hour < 12 ? 'AM' : 'PM';
    else if (lower === 'a/p') out += p.hour < 12 ? 'A' : 'P';
    else out += tok;
  }
  return out;
}

function secondsFollow(tokens, index) {
  for (let i = index + 1; i < tokens.length; i += 1) {
    const lower = tokens[i].toLowerCase();
    if (lower === 's' || lower === 'ss') return true;
    if (/^[a-z]/.test(lower) || lower.startsWith('"')) return false;
  }
  return false;
}

// Rounds |n| to `decimals` places on its shortest decimal form, as Excel does (1.005 shows as
// 1.01 with two decimals, where toFixed would round the binary value down to 1.00).
function fixed(n, decimals) {
  const shortest = Number(Math.abs(n).toPrecision(15));
  const [mantissa, exponent = '0'] = String(shortest).split('e');
  const [digits, shift = '0'] = String(Math.round(Number(`${mantissa}e${Number(exponent) + decimals}`))).split('e');
  return Number(`${digits}e${Number(shift) - decimals}`).toFixed(decimals);
}

// A scientific section such as 0.00E+00: one integer digit, the section's decimals, an exponent
// of at least as many digits as the section gives it, signed always (E+) or when negative (E-).
function formatScientific(value, body) {
  const match = /^([^Ee]*?)([0#?.,]+)[Ee]([+-])([0#?]+)(.*)$/.exec(body);
  const [, before, mantissaPattern, sign, exponentPattern, after] = match;
  const decimals = ((mantissaPattern.split('.')[1] || '').match(/[0#?]/g) || []).length;
  let exponent = value === 0 ? 0 : Math.floor(Math.log10(Math.abs(value)));
  let mantissa = fixed(value / 10 ** exponent, decimals);
  if (Number(mantissa) >= 10) {
    exponent += 1;
    mantissa = fixed(value / 10 ** exponent, decimals);
  }
  const exponentSign = exponent < 0 ? '-' : (sign === '+' ? '+' : '');
  const exponentText = String(Math.abs(exponent)).padStart(exponentPattern.length, '0');
  return `${literal(before)}${mantissa}E${exponentSign}${exponentText}${literal(after)}`;
}

function literal(text) {
  return text.replace(/"([^"]*)"/g, '$1').replace(/\\(.)/g, '$1').replace(/[_*]./g, '');
}

function formatNumber(value, section) {
  const body = section.replace(/\[[^\]]*\]/g, '');
  if (/[0#?][Ee][+-][0#?]/.test(body.replace(/"[^"]*"/g, ''))) return formatScientific(value, body);
  const first = body.search(/[0#?]/);
  if (first < 0) return literal(body);
  let last = first;
  for (let i = first; i < body.length; i += 1) if (/[0#?.,]/.test(body[i])) last = i;
  const prefix = literal(body.slice(0, first));
  const core = body.slice(first, last + 1);
  const suffix = literal(body.slice(last + 1));
  const percent = body.includes('%');
  const [intPart, fracPart = ''] = core.split('.');
  const decimals = (fracPart.match(/[0#?]/g) || []).length;
  const grouping = intPart.includes(',');
  const minInt = (intPart.match(/0/g) || []).length;
  let n = percent ? value * 100 : value;
  let text = fixed(n, decimals);
  let [whole, frac] = text.split('.');
  if (whole.length < minInt) whole = whole.padStart(minInt, '0');
  if (minInt === 0 && whole === '0') whole = '';
  if (grouping) whole = whole.replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  text = frac ? `${whole}.${frac}` : whole;
  return `${prefix}${text}${suffix}`;
}

function formatValue(value, format) {
  if (value === null || value === undefined || value === '') return '';
  if (typeof value === 'string') return value;
  if (typeof value === 'boolean') return value ? 'TRUE' : 'FALSE';
  if (typeof value === 'number' && !Number.isFinite(value)) return '#NUM!';
  const fmt = typeof format === 'string' ? format.trim() : '';
  if (fmt === '' || /^general$/i.test(fmt) || fmt === '@') return formatGeneral(value);
  const sections = fmt.split(';');
  if (value instanceof DateValue) {
    return isDateFormat(sections[0]) ? formatDate(value, sections[0]) : formatGeneral(value);
  }
  if (typeof value !== 'number') return formatGeneral(value);
  let section = sections[0];
  let v = value;
  if (value < 0 && sections.length > 1 && sections[1] !== '') {
    section = sections[1];
    v = -value;
  } else if (value === 0 && sections.length > 2 && sections[2] !== '') {
    section = sections[2];
  }
  if (isDateFormat(section)) return formatDate(v, section);
  const text = formatNumber(v, section);
  return v < 0 && section === sections[0] && !/^-/.test(text) ? `-${text}` : text;
}

module.exports = { formatValue, formatGeneral };
