'use strict';
// Lists the members that Python can reach on each object type of the stand-in, by the rules the
// dispatcher applies (findMember): {typeName: {member: "property" | "method"}}, as JSON on stdout.
// The tests compare it with the typed stubs of the Excel API so that the two cannot drift apart.

const { HostObject, NullObject, findMember } = require('./host_object');

const MODULES = ['./workbook', './range', './range_format', './events', './host'];

function membersOf(cls) {
  const names = new Set();
  for (let proto = cls.prototype; proto && proto !== Object.prototype; proto = Object.getPrototypeOf(proto)) {
    for (const name of Object.getOwnPropertyNames(proto)) names.add(name);
  }
  // findMember only looks at the prototype chain, so a bare instance answers for the class.
  const probe = Object.create(cls.prototype);
  const members = {};
  for (const name of [...names].sort()) {
    const member = findMember(probe, name);
    if (member) members[name] = member.kind;
  }
  return members;
}

function listTypes() {
  const types = {};
  for (const path of MODULES) {
    for (const value of Object.values(require(path))) {
      if (typeof value !== 'function' || !(value.prototype instanceof HostObject) || value === NullObject) continue;
      if (!Object.prototype.hasOwnProperty.call(value, 'typeName')) continue;
      types[value.typeName] = membersOf(value);
    }
  }
  return types;
}

if (require.main === module) process.stdout.write(`${JSON.stringify(listTypes(), null, 1)}\n`);

module.exports = { listTypes };
