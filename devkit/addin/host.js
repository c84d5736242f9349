'use strict';
// The three objects Python reaches without asking (the request context, the Excel root and the
// GetSetting function, ids 0, 1 and 2) and the callable wrapper for methods fetched from objects.

const { HostObject } = require('./host_object');
const { RemoteError } = require('./errors');
const { PythonFunction } = require('./wire');

// Anything Python may call: CALL resolves the positional and keyword arguments with `params`
// and runs `fn`.
class FunctionObject extends HostObject {
  constructor(name, params, fn) {
    super();
    this._name = name;
    this._params = params;
    this._fn = fn;
  }

  get name() {
    return this._name;
  }

  _call(args) {
    return this._fn(...args);
  }
}
FunctionObject.typeName = 'Function';

class BoundMethod extends FunctionObject {
  constructor(target, name, params) {
    super(`${target.typeName}.${name}`, params, (...args) => target[name](...args));
  }
}

class RequestContext extends HostObject {
  constructor(workbook) {
    super();
    this._workbook = workbook;
  }

  get workbook() {
    return this._workbook;
  }

  // Every operation has already been carried out when its response went back, so there is
  // nothing left to send; sync() stays so that scripts written for Office.js run unchanged.
  sync() {
    return null;
  }
}
RequestContext.typeName = 'RequestContext';

class ExcelRoot extends HostObject {
  constructor(context) {
    super();
    this._context = context;
  }

  // Excel.run(fn): runs the Python function with the request context and answers with its result.
  run(fn) {
    if (!(fn instanceof PythonFunction)) throw new RemoteError('Excel.run() needs a Python function to call with the request context');
    return fn.invoke([this._context]);
  }
}
ExcelRoot.typeName = 'Excel';
ExcelRoot.signatures = { run: ['batch'] };

function makeGetSetting(settings) {
  return new FunctionObject('GetSetting', ['name', 'default'], (name, fallback = null) => {
    if (typeof name !== 'string') throw new RemoteError(`GetSetting() takes the setting's name as text, got ${JSON.stringify(name)}`);
    return Object.prototype.hasOwnProperty.call(settings, name) ? settings[name] : fallback;
  });
}

// The fixed ids of the root objects, the same numbers as devkit/root_ids.py (a test compares them).
const ROOT_IDS = Object.freeze({ context: 0, excel: 1, getSetting: 2 });
const FIRST_FREE_ID = Math.max(...Object.values(ROOT_IDS)) + 1;

module.exports = { FunctionObject, BoundMethod, RequestContext, ExcelRoot, makeGetSetting, ROOT_IDS, FIRST_FREE_ID };
