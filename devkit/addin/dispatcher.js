'use strict';
// Carries out the bridge's request bodies (GET, GETITEM, SET, CALL, DEL) against the object
// table and builds the response envelope. A result may be a promise (a call that waits for a
// Python callback); the response is then sent when it settles.

const { RemoteError } = require('./errors');
const { HostObject, findMember, signatureOf } = require('./host_object');
const { FunctionObject, BoundMethod } = require('./host');
const { toWire, fromWire } = require('./wire');
const { typeNameOf } = require('./object_table');

class Dispatcher {
  constructor(table, invoker) {
    this.table = table;
    this.invoker = invoker;
  }

  // Returns the response message, or a promise of it.
  handle(message) {
    const requestId = message.requestId;
    let result;
    try {
      result = this._run(message);
    } catch (err) {
      return failure(requestId, err);
    }
    if (result && typeof result.then === 'function') {
      return result.then((value) => this._success(requestId, value), (err) => failure(requestId, err));
    }
    return this._success(requestId, result);
  }

  _success(requestId, value) {
    if (value === NO_RESULT) return { requestId, kind: 'response', ok: true };
    try {
      return { requestId, kind: 'response', ok: true, result: toWire(value, this.table) };
    } catch (err) {
      return failure(requestId, err);
    }
  }

  _run(message) {
    const { method, name, caller } = message;
    if (!Number.isInteger(caller)) throw new RemoteError(`Request without a valid caller id: ${JSON.stringify(caller)}`);
    if (method === 'DEL') {
      this.table.release(caller);
      return NO_RESULT;
    }
    const target = this.table.get(caller);
    switch (method) {
      case 'GET': return this._get(target, name);
      case 'GETITEM': return this._getItem(target, name);
      case 'SET': return this._set(target, name, message.value);
      case 'CALL': return this._call(target, message.args);
      default: throw new RemoteError(`Unknown request method ${JSON.stringify(method)}`);
    }
  }

  _get(target, name) {
    if (target instanceof HostObject) {
      const member = findMember(target, name);
      if (!member) throw noSuchMember(target, name);
      if (member.kind === 'method') return new BoundMethod(target, name, signatureOf(target, name));
      if (!member.get) throw new RemoteError(`The property '${name}' of ${target.typeName} can be set but not read`);
      return member.get.call(target);
    }
    if (Array.isArray(target)) {
      if (name === 'length') return target.length;
      throw noSuchMember(target, name);
    }
    if (Object.prototype.hasOwnProperty.call(target, name)) return target[name];
    throw noSuchMember(target, name);
  }

  _getItem(target, indexText) {
    let items;
    if (Array.isArray(target)) items = target;
    else if (target instanceof HostObject && target.typeName === 'WorksheetCollection') items = target.items;
    else throw new RemoteError(`A ${typeNameOf(target)} cannot be subscripted`);
    const text = String(indexText);
    if (/^-?\d+$/.test(text)) {
      const i = Number(text);
      const index = i < 0 ? items.length + i : i;
      if (index < 0 || index >= items.length) {
        // The code tells the bridge that there is no such item, which ends a Python loop.
        throw new RemoteError(`Index ${i} is out of range for a ${typeNameOf(target)} of length ${items.length}`, 'IndexOutOfRange');
      }
      return items[index];
    }
    const parts = text.split(':');
    if (parts.length === 3 && parts.every((p) => /^-?\d*$/.test(p))) {
      return sliceOf(items, parts.map((p) => (p === '' ? null : Number(p))));
    }
    throw new RemoteError(`Index '${text}' is neither an integer nor a slice`);
  }

  _set(target, name, wireValue) {
    const value = fromWire(wireValue, this.table, this.invoker);
    if (target instanceof HostObject) {
      const member = findMember(target, name);
      if (!member) throw noSuchMember(target, name);
      if (member.kind !== 'property' || !member.set) throw new RemoteError(`The property '${name}' of ${target.typeName} is read-only`);
      member.set.call(target, value);
      return NO_RESULT;
    }
    if (Array.isArray(target)) throw new RemoteError(`Cannot set '${name}' on an Array`);
    target[name] = value;
    return NO_RESULT;
  }

  _call(target, records) {
    if (!(target instanceof FunctionObject)) {
      throw new RemoteError(`A ${typeNameOf(target)} is not a function and cannot be called`);
    }
    const args = this._arguments(target, Array.isArray(records) ? records : []);
    return target._call(args);
  }

  // Places PLACED records in order and NAMED records by the function's parameter names.
  _arguments(fn, records) {
    const args = [];
    const named = new Map();
    for (const record of records) {
      const value = fromWire(record.value, this.table, this.invoker);
      if (record.arg_type === 'NAMED') {
        named.set(record.name, value);
      } else {
        if (named.size) throw new RemoteError('Positional arguments must come before keyword arguments');
        args.push(value);
      }
    }
    if (named.size) {
      const params = fn._params;
      if (!params) throw new RemoteError(`${fn.name}() does not take keyword arguments`);
      for (const [key, value] of named) {
        const at = params.indexOf(key);
        if (at < 0) throw new RemoteError(`${fn.name}() got an unexpected keyword argument '${key}'`);
        if (at < args.length && args[at] !== undefined) throw new RemoteError(`${fn.name}() got multiple values for argument '${key}'`);
        while (args.length < at) args.push(undefined);
        args[at] = value;
      }
    }
    return args;
  }
}

const NO_RESULT = Symbol('no result');

function sliceOf(items, [start, stop, step]) {
  const n = items.length;
  const s = step === null ? 1 : step;
  if (s === 0) throw new RemoteError('A slice step cannot be zero');
  const clamp = (v, dflt, lo, hi) => {
    if (v === null) return dflt;
    const x = v < 0 ? v + n : v;
    return Math.min(Math.max(x, lo), hi);
  };
  const out = [];
  if (s > 0) {
    for (let i = clamp(start, 0, 0, n); i < clamp(stop, n, 0, n); i += s) out.push(items[i]);
  } else {
    for (let i = clamp(start, n - 1, -1, n - 1); i > clamp(stop, -1, -1, n - 1); i += s) out.push(items[i]);
  }
  return out;
}

function noSuchMember(target, name) {
  return new RemoteError(`The property '${name}' does not exist on type '${typeNameOf(target)}'`, 'PropertyNotFound');
}

function failure(requestId, err) {
  const message = err instanceof RemoteError ? err.message : `Internal add-in error: ${err && err.stack ? err.stack : err}`;
  return { requestId, kind: 'response', ok: false, error: { message, code: err && err.code ? err.code : 'InternalError' } };
}

module.exports = { Dispatcher, sliceOf };
