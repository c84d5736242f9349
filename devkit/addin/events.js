'use strict';
// Worksheet events. A script registers a Python function with `sheet.onChanged.add(handler)`;
// on every change to the sheet's cells the add-in asks the kernel to run each handler with an
// event-arguments dictionary, once the change is made.

const { HostObject } = require('./host_object');
const { PythonFunction } = require('./wire');
const { RemoteError } = require('./errors');

class EventHandlerResult extends HostObject {
  constructor(source, handler) {
    super();
    this._source = source;
    this._handler = handler;
  }

  remove() {
    this._source._handlers.delete(this._handler);
    return null;
  }
}
EventHandlerResult.typeName = 'EventHandlerResult';

class EventSource extends HostObject {
  constructor(name, onError) {
    super();
    this._name = name;
    this._handlers = new Set();
    this._onError = onError;
  }

  add(handler) {
    if (!(handler instanceof PythonFunction)) {
      throw new RemoteError(`${this._name}.add() needs a Python function as its handler`);
    }
    this._handlers.add(handler);
    return new EventHandlerResult(this, handler);
  }

  remove(handler) {
    for (const h of this._handlers) {
      if (h === handler || (handler instanceof PythonFunction && h.callableId === handler.callableId)) {
        this._handlers.delete(h);
      }
    }
    return null;
  }

  _clear() {
    const count = this._handlers.size;
    this._handlers.clear();
    return count;
  }

  // Asks the kernel to run every handler with `args`. The invoke messages go out at once, ahead
  // of the response to the request that made the change, so that a kernel which has seen that
  // response has also seen the events it caused. The handlers still run on the kernel's side
  // while the script goes on; their failures are reported, never thrown at the change's author.
  _fire(args) {
    for (const handler of this._handlers) {
      const report = (err) => this._onError(`${this._name} handler ${handler.callableId} failed: ${err.message}`);
      try {
        handler.invoke([args]).catch(report);
      } catch (err) {
        report(err);
      }
    }
  }
}
EventSource.typeName = 'EventSource';
EventSource.signatures = { add: ['handler'], remove: ['handler'] };

module.exports = { EventSource, EventHandlerResult };
