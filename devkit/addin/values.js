'use strict';
// Cell and argument values that plain JSON cannot tell apart: dates (kept as the ISO text Python
// sent, so a naive date-time stays naive) and bytes (kept as base64 text).

class DateValue {
  constructor(iso) {
    this.iso = String(iso);
  }

  // {year, month, day, hour, minute, second} read off the text; null when it is not ISO 8601.
  parts() {
    const m = /^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?)?/.exec(this.iso);
    if (!m) return null;
    return {
      year: Number(m[1]), month: Number(m[2]), day: Number(m[3]),
      hour: Number(m[4] || 0), minute: Number(m[5] || 0), second: Number(m[6] || 0),
    };
  }

  // Excel's serial day number (1900 date system), for arithmetic in formulas.
  serial() {
    const p = this.parts();
    if (!p) return NaN;
    const days = Date.UTC(p.year, p.month - 1, p.day) / 86400000 + 25569;
    return days + (p.hour * 3600 + p.minute * 60 + p.second) / 86400;
  }

  toString() {
    return this.iso;
  }
}

class BytesValue {
  constructor(base64) {
    this.base64 = String(base64 || '');
  }

  toString() {
    return `<${Buffer.from(this.base64, 'base64').length} bytes>`;
  }
}

module.exports = { DateValue, BytesValue };
