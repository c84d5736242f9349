'use strict';
// Monaco's Python providers, answered by the editor services in the kernel. Each provider posts
// the buffer, the cursor and the other tabs to the server, which answers with Lintora's own
// dict; the functions here turn those dicts into Monaco's types. Lintora counts lines from 1
// and columns from 0, Monaco both from 1.

(function (global) {
  // A request that has taken longer than this shows the page's "working" state until it ends.
  const SLOW_MS = 300;
  let inFlight = 0;
  let slow = 0;

  function showWorking() {
    const busy = slow > 0;
    document.body.dataset.editorWorking = String(busy);
    const note = document.getElementById('editor-working');
    if (note) note.hidden = !busy;
  }

  async function ask(kind, body, token) {
    inFlight += 1;
    let counted = false;
    const timer = setTimeout(() => { counted = true; slow += 1; showWorking(); }, SLOW_MS);
    try {
      const answer = await post(kind, body, token);
      // A newer request of the same kind took this one's place before it ran.
      return answer && answer.superseded ? null : answer;
    } finally {
      clearTimeout(timer);
      if (counted) { slow -= 1; showWorking(); }
      inFlight -= 1;
    }
  }

  async function post(kind, body, token) {
    const controller = new AbortController();
    if (token) token.onCancellationRequested(() => controller.abort());
    let response;
    try {
      response = await fetch(`api/${kind}`, {
        method: 'POST',
        headers: { 'content-type': 'application/json' },
        body: JSON.stringify(body),
        signal: controller.signal,
      });
    } catch (err) {
      if (err.name === 'AbortError') return null;
      throw err;
    }
    const answer = await response.json();
    if (!response.ok) throw new Error(answer.error || `${kind} failed with HTTP ${response.status}`);
    if (answer.error) console.warn(`lintora ${kind}: ${answer.error}`);
    return answer;
  }

  function wordRange(monaco, model, position) {
    const word = model.getWordUntilPosition(position);
    return new monaco.Range(position.lineNumber, word.startColumn, position.lineNumber, word.endColumn);
  }

  // Lintora numbers its kinds by its own table (jedi's type name -> number, fetched from the
  // server), and only some of its numbers are Monaco's (a module is 7, Monaco's Interface; a
  // keyword 13, Monaco's Value). So a number is read back to jedi's type name, and that name
  // gives Monaco's kind; a number the table does not know is passed on as it is.
  function kindMapper(monaco, table) {
    const K = monaco.languages.CompletionItemKind;
    const byType = {
      function: K.Function, class: K.Class, module: K.Module, property: K.Property, instance: K.Variable,
      param: K.Variable, statement: K.Variable, keyword: K.Keyword, path: K.File,
    };
    const byNumber = new Map();
    for (const [type, number] of Object.entries(table || {})) {
      if (!byNumber.has(number) && byType[type] !== undefined) byNumber.set(number, byType[type]);
    }
    return (number) => (byNumber.has(number) ? byNumber.get(number) : number);
  }

  // Completion items keep jedi's order among equally good matches.
  function toCompletionList(answer, range, kindOf) {
    const items = (answer && answer.completions) || [];
    const width = String(items.length).length;
    return {
      suggestions: items.map((item, index) => ({
        label: item.label,
        kind: kindOf(item.kind),
        insertText: item.insertText,
        detail: item.detail,
        documentation: item.documentation,
        sortText: String(index).padStart(width, '0'),
        range,
      })),
    };
  }

  function toHover(answer, range) {
    if (!answer || !answer.contents || !answer.contents.value) return null;
    return { contents: [{ value: answer.contents.value }], range };
  }

  // Monaco highlights a parameter given as a [start, end) offset into the signature's label.
  // A plain name would make Monaco take its first occurrence anywhere in the label, which for
  // `max(a, b)` is the "a" of "max"; so each parameter is found after the opening parenthesis,
  // as a whole word, after the one before it.
  function parameterOffsets(label, parameters) {
    let from = label.indexOf('(') + 1;
    return parameters.map((p) => {
      const name = String(p.label);
      const escaped = name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
      const pattern = new RegExp(`(^|[^\\w])(${escaped})(?!\\w)`, 'gu');
      pattern.lastIndex = Math.max(0, from - 1);
      const match = pattern.exec(label);
      if (!match) return name;
      const start = match.index + match[1].length;
      from = start + name.length;
      return [start, start + name.length];
    });
  }

  function toSignatureHelp(answer) {
    if (!answer || !answer.signatures || answer.signatures.length === 0) return null;
    const signatures = answer.signatures.map((s) => {
      const offsets = parameterOffsets(s.label, s.parameters || []);
      return {
        label: s.label,
        // Docstrings of the Excel API are Markdown (`Range`, links); others read fine as such.
        documentation: s.documentation ? { value: s.documentation } : undefined,
        parameters: (s.parameters || []).map((p, i) => ({ label: offsets[i], documentation: p.documentation })),
      };
    });
    return {
      value: { signatures, activeSignature: answer.activeSignature, activeParameter: answer.activeParameter },
      dispose() {},
    };
  }

  function toMarkers(answer) {
    return ((answer && answer.diagnostics) || []).map((d) => ({
      startLineNumber: d.startLineNumber,
      startColumn: d.startColumn,
      endLineNumber: d.endLineNumber,
      endColumn: d.endColumn,
      message: d.message,
      severity: d.severity,
      source: 'lintora',
    }));
  }

  // `context(model)` gives {path, modules}: the tab's module name and the other tabs' texts.
  // Returns once the editor services are warm (the Excel API and the builtins answer as fast as
  // they will later), so that the page says "ready" only when it is.
  async function register(monaco, context) {
    const warm = ask('warm', {});
    const response = await fetch('api/kinds');
    const kindOf = kindMapper(monaco, response.ok ? await response.json() : {});
    const at = (model, position) => ({
      code: model.getValue(), line: position.lineNumber, column: position.column - 1, ...context(model),
    });
    monaco.languages.registerCompletionItemProvider('python', {
      triggerCharacters: ['.'],
      async provideCompletionItems(model, position, _context, token) {
        const answer = await ask('complete', at(model, position), token);
        return toCompletionList(answer, wordRange(monaco, model, position), kindOf);
      },
    });
    monaco.languages.registerHoverProvider('python', {
      async provideHover(model, position, token) {
        return toHover(await ask('hover', at(model, position), token), wordRange(monaco, model, position));
      },
    });
    monaco.languages.registerSignatureHelpProvider('python', {
      signatureHelpTriggerCharacters: ['(', ','],
      signatureHelpRetriggerCharacters: [','],
      async provideSignatureHelp(model, position, token) {
        return toSignatureHelp(await ask('signature', at(model, position), token));
      },
    });
    await warm;
  }

  async function diagnose(model, context) {
    return toMarkers(await ask('diagnostics', { code: model.getValue(), ...context(model) }));
  }

  global.LintoraProviders = {
    register, diagnose, parameterOffsets, pending: () => inFlight, working: () => slow > 0, SLOW_MS,
  };
}(window));
