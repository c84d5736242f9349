'use strict';
// The add-in's table of objects that Python holds proxies for. Every response that hands out an
// id counts one reference, because the bridge makes one proxy per reference it decodes and each
// proxy sends its own release (DEL) when it is finalised; an object leaves the table only when its
// last reference is released. Ids are never reused, so a stale id cannot name a newer object.

const { RemoteError } = require('./errors');

class ObjectTable {
  constructor(firstId = 3) {
    this._entries = new Map(); // id -> {object, refs}
    this._ids = new Map(); // object -> id, while it is in the table
    this._pinned = new Map(); // fixed ids (context, Excel root, GetSetting): never counted or freed
    this._nextId = firstId;
  }

  pin(id, object) {
    this._pinned.set(id, object);
    this._ids.set(object, id);
  }

  // Hands out one more reference to `object` and returns its id.
  retain(object) {
    const id = this._ids.get(object);
    if (id !== undefined) {
      const entry = this._entries.get(id);
      if (entry) entry.refs += 1;
      return id;
    }
    const newId = this._nextId++;
    this._entries.set(newId, { object, refs: 1 });
    this._ids.set(object, newId);
    return newId;
  }

  get(id) {
    const pinned = this._pinned.get(id);
    if (pinned !== undefined) return pinned;
    const entry = this._entries.get(id);
    if (entry) return entry.object;
    if (Number.isInteger(id) && id >= 0 && id < this._nextId) {
      throw new RemoteError(
        `Object ${id} has been released; fetch it again instead of keeping it past its release`,
        'ObjectReleased');
    }
    throw new RemoteError(
      `Object ${id} is unknown to this add-in (it may come from an earlier session)`, 'ObjectUnknown');
  }

  // Drops one reference; pinned ids ignore releases.
  release(id) {
    if (this._pinned.has(id)) return;
    const entry = this._entries.get(id);
    if (!entry) this.get(id); // throws the released/unknown error
    entry.refs -= 1;
    if (entry.refs <= 0) {
      this._entries.delete(id);
      this._ids.delete(entry.object);
    }
  }

  refs(id) {
    const entry = this._entries.get(id);
    return entry ? entry.refs : 0;
  }

  get size() {
    return this._entries.size;
  }

  stats() {
    let refs = 0;
    const byType = {};
    for (const { object, refs: n } of this._entries.values()) {
      refs += n;
      const type = typeNameOf(object);
      byType[type] = (byType[type] || 0) + 1;
    }
    return { objects: this._entries.size, references: refs, byType, nextId: this._nextId };
  }
}

function typeNameOf(object) {
  if (Array.isArray(object)) return 'Array';
  if (object && typeof object.typeName === 'string') return object.typeName;
  return 'Dict';
}

module.exports = { ObjectTable, typeNameOf };
