'use strict';
// Wire values: the tagged records {type, value, isSpec} in which every value crosses to and
// from Python. Remote objects go out as references (their type name, their id, isSpec true);
// arrays and dictionaries go out by value with an `id` of their own, because the bridge makes a
// proxy for each of them too, and that proxy will release the id.
//
// JSON has no NaN or infinities. A non-finite number travels as a "Float" record whose payload is
// the text "NaN", "Infinity" or "-Infinity"; a Float payload is otherwise always a number, so the
// text is unambiguous, and Python's float() reads these three texts directly.

const { DateValue, BytesValue } = require('./values');
const { RemoteError } = require('./errors');

class PythonFunction {
  // A Python callable passed in by a script. Calling it asks the kernel to run it.
  constructor(callableId, invoker) {
    this.callableId = callableId;
    this._invoker = invoker;
  }

  invoke(args) {
    return this._invoker(this.callableId, args);
  }
}

function encodeNumber(v) {
  if (Number.isFinite(v)) {
    if (Number.isInteger(v) && Number.isSafeInteger(v)) return { type: 'Int', value: v, isSpec: false };
    return { type: 'Float', value: v, isSpec: false };
  }
  const text = Number.isNaN(v) ? 'NaN' : (v > 0 ? 'Infinity' : '-Infinity');
  return { type: 'Float', value: text, isSpec: false };
}

function decodeFloat(v) {
  if (typeof v === 'number') return v;
  if (v === 'NaN') return NaN;
  if (v === 'Infinity' || v === 'inf') return Infinity;
  if (v === '-Infinity' || v === '-inf') return -Infinity;
  const n = Number(v);
  if (Number.isNaN(n)) throw new RemoteError(`Float value ${JSON.stringify(v)} is not a number`);
  return n;
}

// table: the ObjectTable that hands out ids for arrays, dicts and host objects.
function toWire(value, table) {
  if (value === null || value === undefined) return { type: 'Null', value: null, isSpec: false };
  switch (typeof value) {
    case 'boolean': return { type: 'Bool', value, isSpec: false };
    case 'number': return encodeNumber(value);
    case 'string': return { type: 'String', value, isSpec: false };
    case 'bigint': return { type: 'Int', value: Number(value), isSpec: false };
    default: break;
  }
  if (value instanceof DateValue) return { type: 'Date', value: value.iso, isSpec: false };
  if (value instanceof BytesValue) return { type: 'Bytes', value: value.base64, isSpec: false };
  if (value instanceof PythonFunction) {
    return { type: 'String', value: `<Python function ${value.callableId}>`, isSpec: false };
  }
  if (Array.isArray(value)) {
    const id = table.retain(value);
    return { type: 'Array', value: value.map((item) => toWire(item, table)), isSpec: false, id };
  }
  if (typeof value.typeName === 'string') {
    return { type: value.typeName, value: table.retain(value), isSpec: true };
  }
  if (typeof value === 'object') {
    const id = table.retain(value);
    const entries = {};
    for (const [k, v] of Object.entries(value)) entries[k] = toWire(v, table);
    return { type: 'Dict', value: entries, isSpec: false, id };
  }
  return { type: 'String', value: String(value), isSpec: false };
}

// invoker(callableId, args) -> Promise: how a decoded Python callable is run.
function fromWire(wire, table, invoker) {
  if (wire === null || typeof wire !== 'object' || Array.isArray(wire)) {
    throw new RemoteError(`Malformed wire value: ${JSON.stringify(wire)}`);
  }
  const { type, value, isSpec } = wire;
  switch (type) {
    case 'Null': return null;
    case 'Bool': return Boolean(value);
    case 'Int': return Number(value);
    case 'Float': return decodeFloat(value);
    case 'String': return value === null || value === undefined ? '' : String(value);
    case 'Date': return new DateValue(value);
    case 'Bytes': return new BytesValue(value);
    case 'Array': return (value || []).map((item) => fromWire(item, table, invoker));
    case 'Dict': {
      const out = {};
      for (const [k, v] of Object.entries(value || {})) out[k] = fromWire(v, table, invoker);
      return out;
    }
    case 'Python_Function': return new PythonFunction(String(value), invoker);
    default: break;
  }
  if (isSpec) return table.get(Number(value));
  return value === null || value === undefined ? '' : String(value);
}

module.exports = { toWire, fromWire, PythonFunction };
