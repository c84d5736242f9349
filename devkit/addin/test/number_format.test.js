'use strict';
// The displayed text of common number formats, each held against what Excel shows for it.
const test = require('node:test');
const assert = require('node:assert/strict');
const { formatValue } = require('../number_format');
const { DateValue } = require('../values');

const when = new DateValue('2024-03-05T14:30:09');
const midnight = new DateValue('2024-03-05T00:05:00');
const serial = 45356.6041666667; // 2024-03-05 14:30 as a date serial number

const TABLE = [
  ['General', 12345.678, '12345.678'],
  ['General', 123456789012, '1.23457E+11'],
  ['General', 1e-10, '1E-10'],
  ['General', 0.1 + 0.2, '0.3'],
  ['0', 1234.567, '1235'],
  ['0', 2.5, '3'],
  ['0.00', 1234.567, '1234.57'],
  ['0.00', 1.005, '1.01'],
  ['0.00', -3, '-3.00'],
  ['#,##0', 1234567.4, '1,234,567'],
  ['#,##0', 0, '0'],
  ['#,##0.00', 1234.5, '1,234.50'],
  ['0%', 0.256, '26%'],
  ['0.00%', 0.125, '12.50%'],
  ['0.00E+00', 12345.678, '1.23E+04'],
  ['0.00E+00', -0.000123, '-1.23E-04'],
  ['0.00E+00', 99999, '1.00E+05'],
  ['0.00E+00', 0, '0.00E+00'],
  ['$#,##0.00', 1234.5, '$1,234.50'],
  ['$#,##0.00', -1234.5, '-$1,234.50'],
  ['m/d/yyyy', when, '3/5/2024'],
  ['m/d/yyyy', serial, '3/5/2024'],
  ['yyyy-mm-dd', when, '2024-03-05'],
  ['d-mmm-yy', when, '5-Mar-24'],
  ['mmm yyyy', when, 'Mar 2024'],
  ['h:mm', when, '14:30'],
  ['h:mm:ss', when, '14:30:09'],
  ['h:mm AM/PM', when, '2:30 PM'],
  ['h:mm AM/PM', midnight, '12:05 AM'],
  ['h:mm AM/PM', serial, '2:30 PM'],
  ['mm:ss', when, '30:09'],
  ['@', 12345.678, '12345.678'],
  ['@', 'text', 'text'],
];

test('common number formats render as Excel renders them', () => {
  const wrong = TABLE
    .map(([format, value, expected]) => [format, value, expected, formatValue(value, format)])
    .filter(([, , expected, got]) => got !== expected)
    .map(([format, value, expected, got]) => `${format} of ${value.iso || value}: ${got}, expected ${expected}`);
  assert.deepEqual(wrong, []);
});
