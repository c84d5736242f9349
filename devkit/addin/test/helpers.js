'use strict';
// Drives an Addin in-process the way the kernel does over the channel: request messages in,
// response messages out, with small helpers to chain GET and CALL like the bridge's proxies.

const { Addin } = require('../addin');

function w(value) {
  if (value === null) return { type: 'Null', value: null, isSpec: false };
  if (typeof value === 'boolean') return { type: 'Bool', value, isSpec: false };
  if (typeof value === 'number') return { type: Number.isInteger(value) ? 'Int' : 'Float', value, isSpec: false };
  if (typeof value === 'string') return { type: 'String', value, isSpec: false };
  if (Array.isArray(value)) return { type: 'Array', value: value.map(w), isSpec: false };
  return value; // already a wire record
}

class Harness {
  constructor(options = {}) {
    this.sent = [];
    this.addin = new Addin({ send: (m) => this.sent.push(m), ...options });
    this.nextId = 1;
  }

  // Sends one request and returns its response (awaiting deferred ones).
  async request(body) {
    const requestId = `r${this.nextId++}`;
    this.addin.receive({ ...body, requestId, kind: 'request' });
    for (let spins = 0; spins < 1000; spins += 1) {
      const response = this.sent.find((m) => m.requestId === requestId);
      if (response) return response;
      await new Promise((resolve) => setImmediate(resolve));
    }
    throw new Error(`no response to ${JSON.stringify(body)}`);
  }

  async ok(body) {
    const response = await this.request(body);
    if (!response.ok) throw new Error(`request failed: ${response.error.message}`);
    return response.result;
  }

  async get(caller, name) {
    return this.ok({ method: 'GET', name, caller });
  }

  async call(caller, name, ...args) {
    const fn = await this.get(caller, name);
    return this.ok({ method: 'CALL', name: '__call__', caller: fn.value, args: args.map((a) => ({ arg_type: 'PLACED', value: w(a) })) });
  }

  async set(caller, name, value) {
    return this.request({ method: 'SET', name, caller, value: w(value) });
  }

  async sheet(name = 'Sheet1') {
    const wb = await this.get(0, 'workbook');
    const sheets = await this.get(wb.value, 'worksheets');
    return (await this.call(sheets.value, 'getItem', name)).value;
  }

  async range(address, sheetName = 'Sheet1') {
    return (await this.call(await this.sheet(sheetName), 'getRange', address)).value;
  }

  control(command, extra = {}) {
    this.addin.receive({ kind: 'control', controlId: 'c', command, ...extra });
    return this.sent.filter((m) => m.kind === 'control_result').pop();
  }
}

// Plain JS value of a wire record (arrays and scalars only).
function plainOf(wire) {
  if (wire.type === 'Array') return wire.value.map(plainOf);
  if (wire.type === 'Date') return { date: wire.value };
  return wire.value;
}

module.exports = { Harness, w, plainOf };
