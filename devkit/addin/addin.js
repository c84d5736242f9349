'use strict';
// The add-in itself: owns the workbook, the object table and the dispatcher, turns incoming
// message objects into outgoing ones, and asks the kernel to run Python callbacks. It knows
// nothing of the channel; main.js connects it to stdin and stdout.
//
// Messages it takes (each a JSON object with a `kind`):
//   request        a bridge request ({requestId, method, name, value|args, caller}); answered by a
//                  response {requestId, kind: "response", ok, result | error: {message, code}}
//   invoke_result  the kernel's answer to one of our invoke messages
//                  ({invokeId, ok, result | error: {message}})
//   control        the harness's own commands ({controlId, command, ...}), answered by a
//                  control_result {controlId, ok, result | error}; see _control for the commands
// Messages it sends besides responses:
//   invoke         run a Python callable: {kind: "invoke", invokeId, callableId, args: [wire values]}

const { ObjectTable } = require('./object_table');
const { Workbook } = require('./workbook');
const { RequestContext, ExcelRoot, makeGetSetting, ROOT_IDS, FIRST_FREE_ID } = require('./host');
const { Dispatcher } = require('./dispatcher');
const { toWire, fromWire } = require('./wire');
const { RemoteError } = require('./errors');
const { DateValue, BytesValue } = require('./values');
const { workbookView } = require('./view');

class Addin {
  constructor({ send, settings = {}, log = () => {}, invokeTimeoutMs = 60000 }) {
    this._send = send;
    this._log = log;
    this._invokeTimeoutMs = invokeTimeoutMs;
    this.settings = { ...settings };
    this.callbackErrors = [];
    this.table = new ObjectTable(FIRST_FREE_ID);
    this.workbook = new Workbook((text) => this._callbackFailed(text));
    this.context = new RequestContext(this.workbook);
    this.table.pin(ROOT_IDS.context, this.context);
    this.table.pin(ROOT_IDS.excel, new ExcelRoot(this.context));
    this.table.pin(ROOT_IDS.getSetting, makeGetSetting(this.settings));
    this._invoker = (callableId, args) => this.invoke(callableId, args);
    this.dispatcher = new Dispatcher(this.table, this._invoker);
    this._pendingInvokes = new Map();
    this._nextInvoke = 1;
    this._stalled = false;
    this._held = [];
    this.requestsHandled = 0;
  }

  receive(message) {
    if (message === null || typeof message !== 'object' || Array.isArray(message)) {
      this._log(`ignoring a message that is not an object: ${JSON.stringify(message)}`);
      return;
    }
    switch (message.kind) {
      case 'request':
        if (this._stalled) this._held.push(message);
        else this._request(message);
        break;
      case 'invoke_result':
        this._invokeResult(message);
        break;
      case 'control':
        this._send(this._control(message));
        break;
      default:
        this._log(`ignoring a message of kind ${JSON.stringify(message.kind)}`);
        if (message.requestId) {
          this._send({ requestId: message.requestId, kind: 'response', ok: false, error: { message: `Unknown message kind ${JSON.stringify(message.kind)}` } });
        }
    }
  }

  _request(message) {
    this.requestsHandled += 1;
    const response = this.dispatcher.handle(message);
    if (response && typeof response.then === 'function') response.then((r) => this._send(r));
    else this._send(response);
  }

  // Asks the kernel to run a Python callable; settles with its decoded result.
  invoke(callableId, args) {
    const invokeId = `inv-${this._nextInvoke++}`;
    let wireArgs;
    try {
      wireArgs = args.map((a) => toWire(a, this.table));
    } catch (err) {
      return Promise.reject(err);
    }
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this._pendingInvokes.delete(invokeId);
        reject(new RemoteError(`Python callback ${callableId} did not answer within ${this._invokeTimeoutMs / 1000} s`, 'Timeout'));
      }, this._invokeTimeoutMs);
      this._pendingInvokes.set(invokeId, { resolve, reject, timer, callableId });
      this._send({ kind: 'invoke', invokeId, callableId, args: wireArgs });
    });
  }

  _invokeResult(message) {
    const pending = this._pendingInvokes.get(message.invokeId);
    if (!pending) {
      this._log(`dropping the result of unknown or expired invocation ${message.invokeId}`);
      return;
    }
    this._pendingInvokes.delete(message.invokeId);
    clearTimeout(pending.timer);
    if (message.ok) {
      try {
        pending.resolve(message.result === undefined ? null : fromWire(message.result, this.table, this._invoker));
      } catch (err) {
        pending.reject(err);
      }
    } else {
      const text = message.error && message.error.message ? message.error.message : 'Python callback failed';
      pending.reject(new RemoteError(text, 'PythonError'));
    }
  }

  _forgetPython() {
    const handlers = this.workbook._dropHandlers();
    const invokes = this._pendingInvokes.size;
    for (const [invokeId, pending] of this._pendingInvokes) {
      this._pendingInvokes.delete(invokeId);
      clearTimeout(pending.timer);
      pending.reject(new RemoteError(`Python callback ${pending.callableId} belongs to a run that has ended`, 'Cancelled'));
    }
    return { handlers, invokes };
  }

  _callbackFailed(text) {
    this._log(text);
    this.callbackErrors.push(text);
  }

  // Commands of the kernel harness, outside the bridge's protocol:
  //   stats      size of the object table and counters
  //   snapshot   every sheet's used range as values and displayed text, clipped to
//              {maxRows, maxColumns} when given and always to what one request may carry
  //   stall      hold requests unanswered (to exercise the bridge's timeout) ... resume: answer them
  //   settings   merge {values} into what GetSetting returns
  //   errors     callback failures reported so far
  //   view       the workbook as the playground's grid shows it: {revision, sheets}; with
  //              {since: revision} and no request handled since then, {revision, unchanged: true}
  //   forgetPython  drop every event handler and fail every invoke still waiting: the Python
  //              functions they name belong to a run (or an interpreter) that is gone
  _control(message) {
    const { controlId, command } = message;
    try {
      let result;
      switch (command) {
        case 'stats':
          result = {
            ...this.table.stats(),
            pendingInvokes: this._pendingInvokes.size,
            heldRequests: this._held.length,
            requestsHandled: this.requestsHandled,
            callbackErrors: this.callbackErrors.length,
          };
          break;
        case 'snapshot':
          result = this.workbook._snapshot({ maxRows: message.maxRows, maxColumns: message.maxColumns })
            .map((s) => ({ ...s, values: plain(s.values) }));
          break;
        case 'stall':
          this._stalled = true;
          result = null;
          break;
        case 'resume': {
          this._stalled = false;
          const held = this._held;
          this._held = [];
          held.forEach((m) => this._request(m));
          result = held.length;
          break;
        }
        case 'settings':
          Object.assign(this.settings, message.values || {});
          result = { ...this.settings };
          break;
        case 'errors':
          result = [...this.callbackErrors];
          break;
        case 'view':
          // Only requests change the workbook, so their count serves as its revision.
          result = message.since === this.requestsHandled
            ? { revision: this.requestsHandled, unchanged: true }
            : { revision: this.requestsHandled, sheets: workbookView(this.workbook) };
          break;
        case 'forgetPython':
          result = this._forgetPython();
          break;
        default:
          throw new RemoteError(`Unknown control command ${JSON.stringify(command)}`);
      }
      return { kind: 'control_result', controlId, ok: true, result };
    } catch (err) {
      return { kind: 'control_result', controlId, ok: false, error: { message: err.message } };
    }
  }
}

// Cell values as plain JSON: dates as {date: text}, non-finite numbers as their names.
function plain(value) {
  if (Array.isArray(value)) return value.map(plain);
  if (typeof value === 'number' && !Number.isFinite(value)) return Number.isNaN(value) ? 'NaN' : (value > 0 ? 'Infinity' : '-Infinity');
  if (value instanceof DateValue) return { date: value.iso };
  if (value instanceof BytesValue) return { bytes: value.base64 };
  return value;
}

module.exports = { Addin };
