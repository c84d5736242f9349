'use strict';
// The base of every object the add-in exposes to Python, and the member rules the dispatcher
// applies to them: getters are properties (writable when they have a setter), prototype
// functions are methods, and names starting with "_" stay private. `signatures` lists each
// method's parameter names so that keyword arguments from Python can be placed.

const { RemoteError } = require('./errors');

class HostObject {
  get typeName() {
    return this.constructor.typeName;
  }

  get isNullObject() {
    return false;
  }

  // Office.js queues property loads until sync(); here every read is live, so load() only hands
  // the object back, which keeps scripts written for the real host working unchanged.
  load() {
    return this;
  }

  toJSON() {
    return `<${this.typeName}>`;
  }
}
HostObject.typeName = 'Object';
HostObject.signatures = { load: ['propertyNames'] };

// What getItemOrNullObject and friends return when there is nothing to return.
class NullObject extends HostObject {
  constructor(typeName) {
    super();
    this._typeName = typeName;
  }

  get typeName() {
    return this._typeName;
  }

  get isNullObject() {
    return true;
  }
}

const HIDDEN = new Set(['constructor', 'toJSON', 'typeName']);

// Finds a public member on a host object: {kind: 'property', get, set} or {kind: 'method', fn}.
function findMember(object, name) {
  if (typeof name !== 'string' || name.startsWith('_') || HIDDEN.has(name)) return null;
  if (object instanceof NullObject && name !== 'isNullObject' && name !== 'load') {
    throw new RemoteError(
      `This ${object.typeName} is a null object (isNullObject is True): it has no '${name}'`, 'NullObject');
  }
  for (let proto = Object.getPrototypeOf(object); proto && proto !== Object.prototype; proto = Object.getPrototypeOf(proto)) {
    const desc = Object.getOwnPropertyDescriptor(proto, name);
    if (!desc) continue;
    if (desc.get || desc.set) return { kind: 'property', get: desc.get, set: desc.set };
    if (typeof desc.value === 'function') return { kind: 'method', fn: desc.value };
    return null;
  }
  return null;
}

// Parameter names of a method, looked up along the class chain.
function signatureOf(object, name) {
  for (let cls = object.constructor; cls && cls !== Function.prototype; cls = Object.getPrototypeOf(cls)) {
    if (Object.prototype.hasOwnProperty.call(cls, 'signatures') && cls.signatures[name]) return cls.signatures[name];
  }
  return null;
}

module.exports = { HostObject, NullObject, findMember, signatureOf };
