#!/usr/bin/env node
'use strict';
// Writes the Python stubs of the Excel namespace of Office.js from the pinned @types/office-js
// definitions, read with the TypeScript compiler API.
//
//   node tools/officejs_stubs/generate.js [output directory]
//
// The output directory (by default the package directory that holds the bridge module) receives
// `_officejs/`: the facade `excel.pyi` that re-exports every type of the namespace plus `run`,
// and the chunk modules `_excel_NN.pyi` that define them. jedi scans a whole module for every
// class it lists, so the types are spread over chunks of bounded size. `manifest.json` beside
// this script lists every type and member that was written, for the coverage test.
//
// Types are mapped the way a Python user of the bridge meets them: values that come back from
// the add-in are proxies (OfficeJsObject subclasses), arrays come back as OfficeJsArray and
// records as OfficeJsDict; promises and ClientResult<T> are already resolved, since every proxy
// operation waits for its answer. Output is sorted and free of timestamps so that a fresh run
// reproduces the committed files byte for byte.

const fs = require('fs');
const path = require('path');
const ts = require('typescript');

const REPO = path.resolve(__dirname, '..', '..');
const DTS = require.resolve('@types/office-js/index.d.ts', { paths: [REPO] });
const DEFAULT_OUT = path.join(REPO, 'python', 'cellumo_master', 'python_server', 'cellumo');
const PACKAGE_DIR = '_officejs';
const CHUNK_CHARS = 60000;

// OfficeExtension classes that Excel objects inherit from or hand out.
const EXTENSION_CLASSES = ['ClientObject', 'ClientRequestContext', 'EventHandlers', 'EventHandlerResult'];
// Functions of the namespace that only the Office.js runtime calls.
const SKIPPED_FUNCTIONS = new Set(['postprocessBindingDescriptor', 'getDataCommonPostprocess']);
const PY_KEYWORDS = new Set(['False', 'None', 'True', 'and', 'as', 'assert', 'async', 'await', 'break',
  'class', 'continue', 'def', 'del', 'elif', 'else', 'except', 'finally', 'for', 'from', 'global', 'if',
  'import', 'in', 'is', 'lambda', 'nonlocal', 'not', 'or', 'pass', 'raise', 'return', 'try', 'while',
  'with', 'yield', 'match', 'case', 'type']);
// `match`, `case` and `type` are soft keywords: legal names, kept as they are.
for (const soft of ['match', 'case', 'type']) PY_KEYWORDS.delete(soft);
// Names the stubs use in annotations; a member of the same name would shadow them in its class.
const ANNOTATION_NAMES = ['str', 'float', 'bool', 'int', 'list', 'dict', 'Any', 'Literal', 'Callable',
  'OfficeJsArray', 'OfficeJsDict', 'OfficeJsObject', 'Generic', 'overload'];

function pyName(name) {
  return PY_KEYWORDS.has(name) ? `${name}_` : name;
}

// ---------------------------------------------------------------------------------------------
// Reading the definitions

function readNamespaces() {
  const text = fs.readFileSync(DTS, 'utf8');
  const source = ts.createSourceFile(DTS, text, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  const bodies = { Excel: [], OfficeExtension: [] };
  for (const statement of source.statements) {
    if (!ts.isModuleDeclaration(statement) || !statement.body || !ts.isModuleBlock(statement.body)) continue;
    const name = statement.name.text;
    if (bodies[name]) bodies[name].push(...statement.body.statements);
  }
  return bodies;
}

function memberName(node) {
  if (!node.name) return null;
  if (ts.isIdentifier(node.name) || ts.isStringLiteral(node.name)) return node.name.text;
  return null;
}

function hasModifier(node, kind) {
  return !!(node.modifiers && node.modifiers.some((m) => m.kind === kind));
}

// Every declaration of the namespace that user code can reach, merged by name.
function collectTypes(bodies) {
  const types = new Map(); // name -> {name, kind, decls, namespace}
  const aliases = new Map();
  const functions = new Map();
  const variables = [];
  const add = (name, kind, decl, namespace) => {
    let entry = types.get(name);
    if (!entry) {
      entry = { name, kind, decls: [], namespace };
      types.set(name, entry);
    }
    entry.decls.push(decl);
  };
  for (const statement of bodies.Excel) {
    if (ts.isClassDeclaration(statement) && statement.name) add(statement.name.text, 'class', statement, 'Excel');
    else if (ts.isInterfaceDeclaration(statement)) add(statement.name.text, 'interface', statement, 'Excel');
    else if (ts.isEnumDeclaration(statement)) add(statement.name.text, 'enum', statement, 'Excel');
    else if (ts.isTypeAliasDeclaration(statement)) aliases.set(statement.name.text, statement);
    else if (ts.isFunctionDeclaration(statement) && statement.name && !SKIPPED_FUNCTIONS.has(statement.name.text)) {
      const list = functions.get(statement.name.text) || [];
      list.push(statement);
      functions.set(statement.name.text, list);
    } else if (ts.isVariableStatement(statement)) {
      for (const d of statement.declarationList.declarations) variables.push({ node: d, doc: statement });
    }
  }
  for (const statement of bodies.OfficeExtension) {
    if (ts.isClassDeclaration(statement) && statement.name && EXTENSION_CLASSES.includes(statement.name.text)) {
      if (types.has(statement.name.text)) throw new Error(`name clash: ${statement.name.text}`);
      add(statement.name.text, 'class', statement, 'OfficeExtension');
    }
  }
  return { types, aliases, functions, variables };
}

// ---------------------------------------------------------------------------------------------
// Documentation

function commentText(comment) {
  if (comment === undefined || comment === null) return '';
  if (typeof comment === 'string') return comment;
  return comment.map((part) => {
    if (ts.isJSDocLink(part) || ts.isJSDocLinkCode(part) || ts.isJSDocLinkPlain(part)) {
      const target = part.name ? part.name.getText() : '';
      const label = (part.text || '').replace(/^\s*\|\s*/, '').trim();
      if (/^https?:/.test(target) || target === 'https' || target === 'http') {
        const url = (target + label).split(/\s*\|\s*/)[0].trim();
        const shown = (target + label).includes('|') ? (target + label).split('|').slice(1).join('|').trim() : '';
        return shown ? `${shown} (${url})` : url;
      }
      return label || target.replace(/^(Excel|OfficeExtension)\./, '');
    }
    return part.text;
  }).join('');
}

function cleanText(text) {
  let t = text.replace(/\r/g, '');
  t = t.replace(/<br\s*\/?>/gi, '\n').replace(/<\/?(p|ul|ol|li|b|i|em|strong|code|pre|div|span|a)(\s[^>]*)?>/gi, '');
  t = t.replace(/&nbsp;/g, ' ').replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"').replace(/&amp;/g, '&');
  t = t.replace(/\[([^\]]+)\]\((https?:[^)\s]+)\)/g, '$1 ($2)').replace(/\[([^\]]+)\]\(([^)\s]+)\)/g, '$1');
  t = t.replace(/\[Api set: ([^\]]+)\]/g, 'API set: $1');
  // A few card docs call a property mapping a "spec...ation"; "definition" says the same to a
  // Python user, and that word is reserved in this repository for another document.
  t = t.replace(/\bspecifi[c]ation\b/g, 'definition');
  const lines = t.split('\n').map((line) => line.trim());
  const out = [];
  for (const line of lines) {
    if (line === '' && (out.length === 0 || out[out.length - 1] === '')) continue;
    out.push(line);
  }
  while (out.length && out[out.length - 1] === '') out.pop();
  return out.join('\n');
}

function jsDocOf(node) {
  const docs = node.jsDoc;
  return docs && docs.length ? docs[docs.length - 1] : null;
}

// {description, params: Map name -> text, returns, apiSet, remarks, deprecated}
function readDoc(node) {
  const doc = jsDocOf(node);
  const result = { description: '', params: new Map(), returns: '', remarks: '', deprecated: null };
  if (!doc) return result;
  result.description = cleanText(commentText(doc.comment));
  for (const tag of doc.tags || []) {
    const name = tag.tagName.text;
    const text = cleanText(commentText(tag.comment)).replace(/^-\s*/, '');
    if (ts.isJSDocParameterTag(tag)) result.params.set(tag.name.getText(), text);
    else if (name === 'returns' || name === 'return') result.returns = text;
    else if (name === 'remarks') result.remarks = text;
    else if (name === 'deprecated') result.deprecated = text;
  }
  return result;
}

function docstring(doc, { params = [], extra = [] } = {}) {
  const parts = [];
  if (doc.deprecated !== null) parts.push(`Deprecated${doc.deprecated ? `: ${doc.deprecated}` : '.'}`);
  if (doc.description) parts.push(doc.description);
  parts.push(...extra);
  const described = params.filter((p) => doc.params.get(p.tsName));
  if (described.length) {
    parts.push(['Args:', ...described.map((p) => `    ${p.name}: ${indentLater(doc.params.get(p.tsName), 8)}`)].join('\n'));
  }
  if (doc.returns) parts.push(`Returns:\n    ${indentLater(doc.returns, 4)}`);
  if (doc.remarks) parts.push(doc.remarks);
  return parts.join('\n\n');
}

function indentLater(text, width) {
  return text.split('\n').join(`\n${' '.repeat(width)}`);
}

function pyDocstring(text, indent) {
  if (!text) return `${indent}...`;
  let body = text.replace(/\\/g, '\\\\').replace(/"""/g, '\\"\\"\\"');
  if (body.endsWith('"')) body = `${body.slice(0, -1)}\\"`;
  body = body.split('\n').map((line, i) => (i === 0 || line === '' ? line : indent + line)).join('\n');
  return body.includes('\n') ? `${indent}"""${body}\n${indent}"""` : `${indent}"""${body}"""`;
}

// ---------------------------------------------------------------------------------------------
// Types

class TypeMapper {
  constructor(types, aliases) {
    this.types = types;
    this.aliases = aliases;
  }

  // position 'out': a value the bridge hands to Python; 'in': a value Python passes.
  map(node, position, scope) {
    const parts = this.flatten(node, position, scope, new Set());
    return this.join(parts);
  }

  join(parts) {
    const strings = [];
    const numbers = [];
    const others = [];
    let optional = false;
    for (const part of parts) {
      if (part.kind === 'any') return 'Any';
      if (part.kind === 'none') optional = true;
      else if (part.kind === 'string') { if (!strings.includes(part.value)) strings.push(part.value); }
      else if (part.kind === 'number') { if (!numbers.includes(part.value)) numbers.push(part.value); }
      else if (!others.includes(part.text)) others.push(part.text);
    }
    // An enum named beside its own literal values adds nothing: they are what the bridge returns.
    const out = others.filter((t) => !(strings.length && t === 'str'));
    if (strings.length) out.push(`Literal[${strings.map((s) => JSON.stringify(s)).join(', ')}]`);
    if (numbers.length) out.push(`Literal[${numbers.join(', ')}]`);
    if (optional) out.push('None');
    if (out.length === 0) return 'None';
    return out.join(' | ');
  }

  text(t) {
    return [{ kind: 'type', text: t }];
  }

  flatten(node, position, scope, seen) {
    if (!node) return [{ kind: 'any' }];
    switch (node.kind) {
      case ts.SyntaxKind.StringKeyword: return this.text('str');
      case ts.SyntaxKind.NumberKeyword: return this.text('float');
      case ts.SyntaxKind.BooleanKeyword: return this.text('bool');
      case ts.SyntaxKind.AnyKeyword:
      case ts.SyntaxKind.UnknownKeyword:
        return [{ kind: 'any' }];
      case ts.SyntaxKind.VoidKeyword:
      case ts.SyntaxKind.UndefinedKeyword:
      case ts.SyntaxKind.NullKeyword:
      case ts.SyntaxKind.NeverKeyword:
        return [{ kind: 'none' }];
      case ts.SyntaxKind.ObjectKeyword:
        return this.text(position === 'out' ? 'OfficeJsDict[str, Any]' : 'dict[str, Any]');
      case ts.SyntaxKind.ParenthesizedType: return this.flatten(node.type, position, scope, seen);
      case ts.SyntaxKind.UnionType:
        return node.types.flatMap((t) => this.flatten(t, position, scope, seen));
      case ts.SyntaxKind.IntersectionType:
        // `CellValue & CellValueExtraProperties`: the first member says what the value is.
        return this.flatten(node.types[0], position, scope, seen);
      case ts.SyntaxKind.LiteralType: {
        const lit = node.literal;
        if (ts.isStringLiteral(lit)) return [{ kind: 'string', value: lit.text }];
        if (ts.isNumericLiteral(lit)) return [{ kind: 'number', value: lit.text }];
        if (lit.kind === ts.SyntaxKind.TrueKeyword || lit.kind === ts.SyntaxKind.FalseKeyword) return this.text('bool');
        if (lit.kind === ts.SyntaxKind.NullKeyword) return [{ kind: 'none' }];
        if (ts.isPrefixUnaryExpression(lit)) return [{ kind: 'number', value: lit.getText() }];
        return [{ kind: 'any' }];
      }
      case ts.SyntaxKind.ArrayType: {
        const item = this.map(node.elementType, position, scope);
        return this.text(position === 'out' ? `OfficeJsArray[${item}]` : `list[${item}]`);
      }
      case ts.SyntaxKind.TupleType: return this.text(position === 'out' ? 'OfficeJsArray[Any]' : 'list[Any]');
      case ts.SyntaxKind.TypeLiteral: {
        const index = node.members.find((m) => ts.isIndexSignatureDeclaration(m));
        const value = index ? this.map(index.type, position, scope) : 'Any';
        return this.text(position === 'out' ? `OfficeJsDict[str, ${value}]` : `dict[str, ${value}]`);
      }
      case ts.SyntaxKind.FunctionType: {
        const params = node.parameters.map((p) => this.map(p.type, 'out', scope));
        const ret = this.map(node.type, 'in', scope);
        return this.text(`Callable[[${params.join(', ')}], ${ret === 'None' ? 'Any' : ret}]`);
      }
      case ts.SyntaxKind.TypeReference: return this.reference(node, position, scope, seen);
      default:
        return [{ kind: 'any' }];
    }
  }

  reference(node, position, scope, seen) {
    const full = node.typeName.getText();
    const args = node.typeArguments || [];
    const parts = full.split('.');
    const last = parts[parts.length - 1];
    if (scope.typeParams.has(full)) return this.text('_T');
    if (full === 'Promise' || full === 'OfficeExtension.IPromise' || full === 'OfficeExtension.ClientResult') {
      return args.length ? this.flatten(args[0], position, scope, seen) : [{ kind: 'any' }];
    }
    if (full === 'Array' || full === 'ReadonlyArray') {
      const item = args.length ? this.map(args[0], position, scope) : 'Any';
      return this.text(position === 'out' ? `OfficeJsArray[${item}]` : `list[${item}]`);
    }
    if (full === 'Record') {
      const value = args.length > 1 ? this.map(args[1], position, scope) : 'Any';
      return this.text(position === 'out' ? `OfficeJsDict[str, ${value}]` : `dict[str, ${value}]`);
    }
    if (full === 'OfficeExtension.EventHandlers') {
      scope.refs.add('EventHandlers');
      return this.text(`EventHandlers[${args.length ? this.map(args[0], 'out', scope) : 'Any'}]`);
    }
    if (full === 'OfficeExtension.EventHandlerResult') {
      scope.refs.add('EventHandlerResult');
      return this.text(`EventHandlerResult[${args.length ? this.map(args[0], 'out', scope) : 'Any'}]`);
    }
    if (full === 'OfficeCore.RequestContext' || full === 'OfficeExtension.ClientRequestContext') {
      scope.refs.add('ClientRequestContext');
      return this.text('ClientRequestContext');
    }
    if (full === 'OfficeExtension.ClientObject') {
      scope.refs.add('ClientObject');
      return this.text('ClientObject');
    }
    if (parts[0] === 'OfficeExtension' || parts[0] === 'Office' || parts[0] === 'OfficeCore') {
      // Load and update options are plain records on the wire; the rest is runtime machinery.
      return /Options?$/.test(last) ? this.text(position === 'out' ? 'OfficeJsDict[str, Any]' : 'dict[str, Any]')
        : [{ kind: 'any' }];
    }
    // Excel.Interfaces.* are the shapes of load options, data and update data: plain records.
    if (parts.includes('Interfaces')) return this.text(position === 'out' ? 'OfficeJsDict[str, Any]' : 'dict[str, Any]');
    const local = parts[0] === 'Excel' ? parts.slice(1) : parts;
    if (local.length === 2 && this.types.has(local[0]) && this.types.get(local[0]).kind === 'enum') {
      const value = this.enumValue(local[0], local[1]);
      if (value) return [value];
    }
    if (local.length !== 1) return [{ kind: 'any' }];
    const name = local[0];
    if (name === 'Date') return this.text('str');
    if (this.aliases.has(name)) {
      if (seen.has(name)) return [{ kind: 'any' }];
      const inner = new Set(seen);
      inner.add(name);
      return this.flatten(this.aliases.get(name).type, position, scope, inner);
    }
    const entry = this.types.get(name);
    if (!entry) return [{ kind: 'any' }];
    if (entry.kind === 'enum') {
      // Enum values cross the wire as their plain values.
      const numeric = enumMembers(entry).some((m) => m.value.kind === 'number');
      return this.text(numeric ? 'float' : 'str');
    }
    scope.refs.add(name);
    if (entry.kind === 'interface' && position === 'in') return this.text(`${name} | dict[str, Any]`);
    return this.text(name);
  }

  enumValue(enumName, memberName) {
    const member = enumMembers(this.types.get(enumName)).find((m) => m.tsName === memberName);
    return member ? member.value : null;
  }
}

const enumCache = new Map();
function enumMembers(entry) {
  if (enumCache.has(entry)) return enumCache.get(entry);
  const members = [];
  for (const decl of entry.decls) {
    for (const m of decl.members) {
      const name = memberName(m);
      if (name === null) continue;
      let value = { kind: 'none' };
      if (m.initializer && ts.isStringLiteral(m.initializer)) value = { kind: 'string', value: m.initializer.text };
      else if (m.initializer && ts.isNumericLiteral(m.initializer)) value = { kind: 'number', value: m.initializer.text };
      members.push({ tsName: name, name: pyName(name), value, node: m });
    }
  }
  enumCache.set(entry, members);
  return members;
}

// ---------------------------------------------------------------------------------------------
// Writing one type

function typeParamNames(...nodes) {
  const names = new Set();
  for (const node of nodes) for (const p of (node && node.typeParameters) || []) names.add(p.name.text);
  return names;
}

function signatureOf(mapper, node, scope) {
  const params = [];
  let optionalSeen = false;
  for (const p of node.parameters) {
    const tsName = p.name.getText();
    const rest = !!p.dotDotDotToken;
    let type;
    if (rest && p.type && ts.isArrayTypeNode(p.type)) type = mapper.map(p.type.elementType, 'in', scope);
    else type = mapper.map(p.type, 'in', scope);
    const optional = !!p.questionToken || !!p.initializer || (optionalSeen && !rest);
    if (optional) optionalSeen = true;
    params.push({ tsName, name: pyName(tsName), type, optional, rest });
  }
  return { params, ret: mapper.map(node.type, 'out', scope) };
}

function renderParams(sig, self) {
  const out = self ? ['self'] : [];
  for (const p of sig.params) {
    if (p.rest) out.push(`*${p.name}: ${p.type}`);
    else out.push(`${p.name}: ${p.type}${p.optional ? ' = ...' : ''}`);
  }
  return out.join(', ');
}

function shadowFix(text, shadowed) {
  if (!shadowed.size) return text;
  return text.replace(/\b[A-Za-z_][A-Za-z0-9_]*\b/g, (word) => (shadowed.has(word) ? `_builtins_${word}` : word));
}

function renderType(mapper, entry) {
  const lines = [];
  const scope = { refs: new Set(), typeParams: typeParamNames(...entry.decls) };
  const members = []; // for the manifest: {name, kind}
  const classDoc = docstring(readDoc(entry.decls[0]));
  if (entry.kind === 'enum') {
    lines.push(`class ${entry.name}:`);
    lines.push(pyDocstring(classDoc || `The values of ${entry.name}.`, '    '));
    for (const m of enumMembers(entry)) {
      const value = m.value.kind === 'string' ? JSON.stringify(m.value.value) : m.value.kind === 'number' ? m.value.value : null;
      const doc = readDoc(m.node);
      const valueLine = value === null ? '' : `Value: ${value}`;
      lines.push(`    ${m.name}: ${value === null ? 'Any' : `Literal[${value}]`}`);
      lines.push(pyDocstring(docstring(doc, { extra: valueLine ? [valueLine] : [] }), '    '));
      members.push({ name: m.name, kind: 'constant' });
    }
    return { text: lines.join('\n'), refs: scope.refs, members, shadowed: new Set() };
  }

  // Properties and methods, merged over every declaration of the name.
  const properties = new Map();
  const methods = new Map();
  const heritage = [];
  for (const decl of entry.decls) {
    for (const clause of decl.heritageClauses || []) {
      for (const t of clause.types) heritage.push(t.expression.getText());
    }
    for (const m of decl.members) {
      const name = memberName(m);
      if (name === null || name.startsWith('_')) continue;
      if (ts.isPropertyDeclaration(m) || ts.isPropertySignature(m)) {
        if (!properties.has(name) && !methods.has(name)) properties.set(name, m);
      } else if (ts.isMethodDeclaration(m) || ts.isMethodSignature(m)) {
        const list = methods.get(name) || [];
        list.push(m);
        methods.set(name, list);
      }
    }
  }
  for (const name of methods.keys()) properties.delete(name);

  let base;
  if (entry.kind === 'interface') base = 'OfficeJsDict[str, Any]';
  else if (entry.namespace === 'OfficeExtension') base = 'OfficeJsObject';
  else {
    const parent = heritage.find((h) => h.startsWith('OfficeExtension.') || h.startsWith('OfficeCore.'));
    base = parent === 'OfficeExtension.ClientObject' ? 'ClientObject' : parent ? 'ClientRequestContext' : 'OfficeJsObject';
    if (base !== 'OfficeJsObject') scope.refs.add(base);
  }
  if (scope.typeParams.size) base = `${base}, Generic[_T]`;

  const memberNames = new Set([...properties.keys(), ...methods.keys()].map(pyName));
  const shadowed = new Set(ANNOTATION_NAMES.filter((n) => memberNames.has(n)));
  const body = [];
  for (const name of [...properties.keys()].sort()) {
    const node = properties.get(name);
    const py = pyName(name);
    const readonly = entry.kind === 'interface' || hasModifier(node, ts.SyntaxKind.ReadonlyKeyword);
    const outType = mapper.map(node.type, 'out', scope);
    const optional = !!node.questionToken && entry.kind === 'interface';
    const getType = shadowFix(optional && !/\bNone\b/.test(outType) ? `${outType} | None` : outType, shadowed);
    const doc = docstring(readDoc(node));
    body.push('    @property');
    body.push(`    def ${py}(self) -> ${getType}:`);
    body.push(pyDocstring(doc, '        '));
    if (!readonly) {
      const inType = shadowFix(mapper.map(node.type, 'in', scope), shadowed);
      body.push(`    @${py}.setter`);
      body.push(`    def ${py}(self, value: ${inType}) -> None:`);
      body.push(pyDocstring(doc, '        '));
    }
    members.push({ name: py, kind: 'property' });
  }
  for (const name of [...methods.keys()].sort()) {
    const py = pyName(name);
    const rendered = [];
    const seenSignatures = new Set();
    for (const node of methods.get(name)) {
      const local = { refs: scope.refs, typeParams: new Set([...scope.typeParams, ...typeParamNames(node)]) };
      const sig = signatureOf(mapper, node, local);
      const head = `def ${py}(${shadowFix(renderParams(sig, true), shadowed)}) -> ${shadowFix(sig.ret, shadowed)}:`;
      if (seenSignatures.has(head)) continue;
      seenSignatures.add(head);
      rendered.push({ head, doc: docstring(readDoc(node), { params: sig.params }) });
    }
    for (const r of rendered) {
      if (rendered.length > 1) body.push('    @overload');
      body.push(`    ${r.head}`);
      body.push(pyDocstring(r.doc, '        '));
    }
    members.push({ name: py, kind: 'method' });
  }
  lines.push(`class ${entry.name}(${base}):`);
  lines.push(pyDocstring(classDoc || `The ${entry.name} object of Office.js.`, '    '));
  lines.push(...body);
  return { text: lines.join('\n'), refs: scope.refs, members, shadowed };
}

// ---------------------------------------------------------------------------------------------
// Modules

const HEADER = '# Generated by tools/officejs_stubs/generate.js from @types/office-js; do not edit.';

function chunkImports(chunkIndex, text, refs, owners, shadowed) {
  const typing = ['Any', 'Callable', 'Generic', 'Literal', 'TypeVar', 'overload'].filter((n) => new RegExp(`\\b${n}\\b`).test(text));
  if (!typing.includes('TypeVar') && /\b_T\b/.test(text)) typing.push('TypeVar');
  const lines = [HEADER];
  if (shadowed.size) lines.push(`from builtins import ${[...shadowed].sort().map((n) => `${n} as _builtins_${n}`).join(', ')}`);
  if (typing.length) lines.push(`from typing import ${typing.sort().join(', ')}`);
  const bridge = ['OfficeJsArray', 'OfficeJsDict', 'OfficeJsObject'].filter((n) => new RegExp(`\\b${n}\\b`).test(text));
  if (bridge.length) lines.push(`from ..ostrel import ${bridge.join(', ')}`);
  const byChunk = new Map();
  for (const name of refs) {
    const owner = owners.get(name);
    if (owner === undefined || owner === chunkIndex) continue;
    if (!byChunk.has(owner)) byChunk.set(owner, []);
    byChunk.get(owner).push(name);
  }
  for (const owner of [...byChunk.keys()].sort((a, b) => a - b)) {
    lines.push(`from .${chunkName(owner)} import ${byChunk.get(owner).sort().join(', ')}`);
  }
  if (/\b_T\b/.test(text)) lines.push('', '_T = TypeVar("_T")');
  return lines.join('\n');
}

function chunkName(index) {
  return `_excel_${String(index).padStart(2, '0')}`;
}

function renderFunction(mapper, name, nodes) {
  const out = [];
  const seen = new Set();
  const rendered = [];
  for (const node of nodes) {
    const scope = { refs: new Set(), typeParams: typeParamNames(node) };
    const sig = signatureOf(mapper, node, scope);
    const head = `def ${pyName(name)}(${renderParams(sig, false)}) -> ${sig.ret}:`;
    if (seen.has(head)) continue;
    seen.add(head);
    rendered.push({ head, doc: docstring(readDoc(node), { params: sig.params }), refs: scope.refs });
  }
  const refs = new Set();
  for (const r of rendered) {
    for (const ref of r.refs) refs.add(ref);
    if (rendered.length > 1) out.push('@overload');
    out.push(r.head);
    out.push(pyDocstring(r.doc, '    '));
  }
  return { name: pyName(name), text: out.join('\n'), refs };
}

function generate(outDir) {
  const bodies = readNamespaces();
  const { types, aliases, functions, variables } = collectTypes(bodies);
  const mapper = new TypeMapper(types, aliases);
  const names = [...types.keys()].sort();
  const rendered = names.map((name) => ({ name, ...renderType(mapper, types.get(name)) }));

  // Consecutive types (sorted by name) fill chunks of about CHUNK_CHARS characters.
  const chunks = [];
  let current = null;
  for (const r of rendered) {
    if (!current || current.size + r.text.length > CHUNK_CHARS) {
      current = { types: [], size: 0 };
      chunks.push(current);
    }
    current.types.push(r);
    current.size += r.text.length;
  }
  const owners = new Map();
  chunks.forEach((chunk, i) => chunk.types.forEach((t) => owners.set(t.name, i)));

  const files = new Map();
  chunks.forEach((chunk, i) => {
    const body = chunk.types.map((t) => t.text).join('\n\n');
    const refs = new Set();
    const shadowed = new Set();
    for (const t of chunk.types) {
      t.refs.forEach((r) => refs.add(r));
      t.shadowed.forEach((s) => shadowed.add(s));
    }
    const doc = `"""Excel API types ${chunk.types[0].name} to ${chunk.types[chunk.types.length - 1].name}; reach them through Excel."""`;
    files.set(`${chunkName(i)}.pyi`, `${doc}\n${chunkImports(i, body, refs, owners, shadowed)}\n\n\n${body}\n`);
  });

  // The namespace's functions and variables, in a module of their own.
  const funcRefs = new Set();
  const funcs = [...functions.keys()].sort().map((name) => renderFunction(mapper, name, functions.get(name)));
  funcs.forEach((f) => f.refs.forEach((r) => funcRefs.add(r)));
  const vars = variables.map((v) => {
    const scope = { refs: funcRefs, typeParams: new Set() };
    const name = v.node.name.getText();
    return { name: pyName(name), text: `${pyName(name)}: ${mapper.map(v.node.type, 'out', scope)}\n${pyDocstring(docstring(readDoc(v.doc)), '')}` };
  });
  const funcBody = [...funcs.map((f) => f.text), ...vars.map((v) => v.text)].join('\n\n');
  const funcOwner = chunks.length;
  files.set('_functions.pyi', `"""Excel.run and the other functions of the Excel namespace; reach them through Excel."""\n`
    + `${chunkImports(funcOwner, funcBody, funcRefs, owners, new Set())}\n\n\n${funcBody}\n`);

  // The facade: every type of the namespace under its own name, plus the namespace's functions.
  const facade = [];
  facade.push('"""The Excel namespace of Office.js, as the bridge gives it to Python.');
  facade.push('');
  facade.push('Every type of the namespace is here under its own name (`Excel.Range`, `Excel.HorizontalAlignment`),');
  facade.push('together with `Excel.run`. Values read from the add-in arrive as proxies of these types; arrays as');
  facade.push('OfficeJsArray and records as OfficeJsDict. Each call waits for its answer, so nothing needs awaiting.');
  facade.push('"""');
  facade.push(HEADER);
  chunks.forEach((chunk, i) => {
    const excelNames = chunk.types.filter((t) => types.get(t.name).namespace === 'Excel').map((t) => t.name);
    if (!excelNames.length) return;
    facade.push(`from .${chunkName(i)} import (`);
    for (const n of excelNames) facade.push(`    ${n} as ${n},`);
    facade.push(')');
  });
  facade.push('from ._functions import (');
  for (const n of [...funcs.map((f) => f.name), ...vars.map((v) => v.name)].sort()) facade.push(`    ${n} as ${n},`);
  facade.push(')');
  files.set('excel.pyi', `${facade.join('\n')}\n`);
  files.set('__init__.pyi', '"""Typed stubs of the Office.js API, reached through the bridge\'s Excel and Context."""\n');

  fs.rmSync(path.join(outDir, PACKAGE_DIR), { recursive: true, force: true });
  fs.mkdirSync(path.join(outDir, PACKAGE_DIR), { recursive: true });
  for (const [name, text] of [...files.entries()].sort()) fs.writeFileSync(path.join(outDir, PACKAGE_DIR, name), text);

  // What was covered, for the tests: every type with its members and the kind of each.
  const manifest = {
    source: `@types/office-js ${require(path.join(path.dirname(DTS), 'package.json')).version}`,
    types: rendered.map((r) => ({
      name: r.name, kind: types.get(r.name).kind, namespace: types.get(r.name).namespace,
      members: r.members.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0)),
    })),
    functions: [...functions.keys()].sort().map(pyName),
  };
  return { files, manifest, chunks: chunks.length };
}

function main() {
  const outDir = path.resolve(process.argv[2] || DEFAULT_OUT);
  const manifestPath = process.argv[3] ? path.resolve(process.argv[3]) : path.join(__dirname, 'manifest.json');
  const { manifest, chunks } = generate(outDir);
  fs.writeFileSync(manifestPath, `${JSON.stringify(manifest, null, 1)}\n`);
  const count = (kind) => manifest.types.filter((t) => t.kind === kind).length;
  const members = manifest.types.reduce((n, t) => n + t.members.length, 0);
  process.stdout.write(`${manifest.types.length} types (${count('class')} classes, ${count('interface')} interfaces, `
    + `${count('enum')} enums), ${members} members, ${chunks} chunks -> ${path.join(outDir, PACKAGE_DIR)}\n`);
}

main();
