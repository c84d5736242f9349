'use strict';
// The page: Monaco with one model per tab (main.py is the script, the other tabs are modules it
// can import), the Run / Stop / Reset controls over the server's WebSocket, the output pane and
// the workbook view. Markers are asked for after a pause in typing, and an answer that arrives
// after a newer edit is dropped.

(function () {
  const DIAGNOSTICS_DELAY_MS = 300;
  const SCRIPT = 'main';

  const STARTER = {
    main: [
      '"""Type a "." after a name, hover over one, then press Run (Ctrl+Enter)."""',
      'from cellumo_master.python_server.cellumo.ostrel import Context',
      '',
      'from helpers import table_of',
      '',
      'sales = {"North": 1250.5, "South": 980.25, "East": 1530, "West": 1105.75}',
      'rows = table_of(sales, "Region", "Sales")',
      'total = len(rows) + 1  # the row of the total',
      '',
      'sheet = Context.workbook.worksheets.getActiveWorksheet()',
      'sheet.getRange(f"A1:B{total - 1}").values = rows',
      'sheet.getRange(f"A{total}:B{total}").values = [["Total", f"=SUM(B2:B{total - 1})"]]',
      'sheet.getRange(f"B2:B{total}").numberFormat = [["$#,##0.00"]] * (total - 1)',
      'header = sheet.getRange("A1:B1").format',
      'header.font.bold = True',
      'header.fill.color = "#DDEBF7"',
      'sheet.getRange(f"A{total}:B{total}").format.font.bold = True',
      'sheet.getRange("A:B").format.autofitColumns()',
      'print("wrote", len(sales), "regions")',
      '',
    ].join('\n'),
    helpers: [
      '"""Helpers the script imports: every tab is a module of its own."""',
      '',
      '',
      'def table_of(totals, key_header, value_header):',
      '    """A header row, then one row per entry of `totals`."""',
      '    return [[key_header, value_header]] + [[k, v] for k, v in totals.items()]',
      '',
    ].join('\n'),
  };

  const $ = (id) => document.getElementById(id);
  const ui = {
    run: $('run'), stop: $('stop'), reset: $('reset'), status: $('status'), tabs: $('tabs'),
    output: $('output'), clear: $('clear'),
  };
  const tabs = new Map(); // module name -> {model, state}
  let current = null;
  let editor = null;
  let socket = null;
  let running = false;
  let runClock = null; // shows the seconds a run has taken while it goes
  const workbook = new window.WorkbookView($('grid'), $('sheets'));

  function moduleOf(model) {
    for (const [name, tab] of tabs) if (tab.model === model) return name;
    return null;
  }

  // What every editor request carries: the tab's module name and the other tabs' texts.
  function context(model) {
    const path = moduleOf(model);
    const modules = {};
    for (const [name, tab] of tabs) if (name !== path) modules[name] = tab.model.getValue();
    return { path, modules };
  }

  function setStatus(text) {
    ui.status.textContent = text;
  }

  // -- tabs ----------------------------------------------------------------------------------

  function addTab(name, text) {
    const model = monaco.editor.createModel(text, 'python', monaco.Uri.parse(`file:///${name}.py`));
    const tab = { model, state: null, timer: null };
    tabs.set(name, tab);
    model.onDidChangeContent(() => scheduleDiagnostics(model));
    scheduleDiagnostics(model, 0);
    renderTabs();
    return tab;
  }

  function closeTab(name) {
    const tab = tabs.get(name);
    if (!tab || name === SCRIPT) return;
    if (current === name) select(SCRIPT);
    tabs.delete(name);
    tab.model.dispose();
    renderTabs();
    for (const other of tabs.values()) scheduleDiagnostics(other.model, 0);
  }

  function select(name) {
    if (current && tabs.has(current)) tabs.get(current).state = editor.saveViewState();
    current = name;
    const tab = tabs.get(name);
    editor.setModel(tab.model);
    if (tab.state) editor.restoreViewState(tab.state);
    editor.focus();
    renderTabs();
  }

  function renderTabs() {
    const buttons = [...tabs.keys()].map((name) => {
      const tab = document.createElement('button');
      tab.type = 'button';
      tab.className = 'tab';
      tab.role = 'tab';
      tab.dataset.module = name;
      tab.setAttribute('aria-selected', String(name === current));
      tab.append(`${name}.py`);
      tab.addEventListener('click', () => select(name));
      if (name !== SCRIPT) {
        const close = document.createElement('span');
        close.className = 'close';
        close.title = `Close ${name}.py`;
        close.textContent = '\u00d7';
        close.addEventListener('click', (event) => { event.stopPropagation(); closeTab(name); });
        tab.append(close);
      }
      return tab;
    });
    const add = document.createElement('button');
    add.type = 'button';
    add.className = 'tab add';
    add.title = 'Add a module';
    add.textContent = '+';
    add.addEventListener('click', newModule);
    ui.tabs.replaceChildren(...buttons, add);
  }

  function newModule() {
    const name = (window.prompt('Name of the new module (a Python identifier):', 'tools') || '').trim().replace(/\.py$/, '');
    if (!name) return;
    if (!/^[A-Za-z_][A-Za-z0-9_]*$/.test(name) || tabs.has(name)) {
      window.alert(`"${name}" cannot be used: choose a new Python identifier.`);
      return;
    }
    addTab(name, `"""The module ${name}."""\n`);
    select(name);
  }

  // -- diagnostics ---------------------------------------------------------------------------

  function scheduleDiagnostics(model, delay = DIAGNOSTICS_DELAY_MS) {
    const tab = tabs.get(moduleOf(model));
    if (!tab) return;
    clearTimeout(tab.timer);
    tab.timer = setTimeout(() => { tab.timer = null; diagnose(model); }, delay);
  }

  async function diagnose(model) {
    if (model.isDisposed()) return;
    const version = model.getVersionId();
    try {
      const markers = await window.LintoraProviders.diagnose(model, context);
      if (!model.isDisposed() && model.getVersionId() === version) monaco.editor.setModelMarkers(model, 'lintora', markers);
    } catch (err) {
      console.warn(`diagnostics: ${err.message}`);
    }
  }

  // -- runs ----------------------------------------------------------------------------------

  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function run() {
    if (running) return;
    const modules = {};
    for (const [name, tab] of tabs) if (name !== SCRIPT) modules[name] = tab.model.getValue();
    ui.output.replaceChildren();
    send({ type: 'run', code: tabs.get(SCRIPT).model.getValue(), modules });
  }

  function append(text, kind) {
    const out = ui.output;
    const last = out.lastElementChild;
    if (last && last.dataset.kind === kind) last.append(text);
    else {
      const span = document.createElement('span');
      span.dataset.kind = kind;
      span.className = kind;
      span.textContent = text;
      out.append(span);
    }
    out.scrollTop = out.scrollHeight;
  }

  function setRunning(value) {
    running = value;
    const connected = socket !== null && socket.readyState === WebSocket.OPEN;
    ui.run.disabled = value || !connected;
    ui.stop.disabled = !value;
    ui.reset.disabled = value || !connected;
    document.body.dataset.running = String(value);
  }

  function onMessage(message) {
    switch (message.type) {
      case 'hello':
        setRunning(message.running);
        setStatus(message.running ? 'a script is running' : 'ready');
        break;
      case 'run-start':
        setRunning(true);
        startClock();
        break;
      case 'output':
        append(message.text, 'output');
        break;
      case 'error':
        append(message.text, 'error');
        break;
      case 'notice':
        append(`(${message.text})\n`, 'notice');
        break;
      case 'refused':
        append(`(${message.text})\n`, 'notice');
        break;
      case 'run-end':
        setRunning(false);
        stopClock();
        setStatus(endStatus(message));
        document.body.dataset.runs = String(Number(document.body.dataset.runs || 0) + 1);
        break;
      case 'workbook':
        workbook.update(message.sheets);
        document.body.dataset.revision = String(message.revision);
        break;
      default:
        break;
    }
  }

  function startClock() {
    stopClock();
    const started = performance.now();
    const tick = () => setStatus(`running main.py\u2026 ${((performance.now() - started) / 1000).toFixed(1)} s`);
    tick();
    runClock = setInterval(tick, 200);
  }

  function stopClock() {
    if (runClock !== null) clearInterval(runClock);
    runClock = null;
  }

  function endStatus(message) {
    if (message.stopped) return message.restarted ? 'stopped; interpreter restarted' : 'stopped';
    const outcome = message.ok ? 'finished' : 'failed';
    return `${outcome} in ${message.seconds.toFixed(2)} s${message.restarted ? '; interpreter restarted' : ''}`;
  }

  // Ctrl+Enter runs from anywhere on the page: the editor, the output, the grid. Taken in the
  // capture phase, so the editor does not also insert a line break.
  function onKeyDown(event) {
    if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && !event.altKey && !event.shiftKey) {
      event.preventDefault();
      event.stopPropagation();
      run();
    }
  }

  function connect() {
    const url = new URL('ws', window.location.href);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(url);
    socket.addEventListener('open', () => setRunning(false));
    socket.addEventListener('message', (event) => onMessage(JSON.parse(event.data)));
    socket.addEventListener('close', () => {
      setRunning(false);
      stopClock();
      ui.run.disabled = true;
      ui.reset.disabled = true;
      setStatus('disconnected from the playground server (restart it, then reload the page)');
    });
  }

  // -- start ---------------------------------------------------------------------------------

  async function start() {
    await window.LintoraProviders.register(monaco, context);
    editor = monaco.editor.create(document.getElementById('editor'), {
      automaticLayout: true,
      fontSize: 14,
      minimap: { enabled: false },
      scrollBeyondLastLine: false,
      wordBasedSuggestions: 'off',
      renderWhitespace: 'none',
      hover: { delay: 250 },
      tabSize: 4,
      insertSpaces: true,
    });
    addTab(SCRIPT, STARTER.main);
    addTab('helpers', STARTER.helpers);
    select(SCRIPT);
    editor.addAction({ id: 'playground.run', label: 'Run main.py (Ctrl+Enter)', run });
    window.addEventListener('keydown', onKeyDown, true);
    ui.run.addEventListener('click', run);
    ui.stop.addEventListener('click', () => send({ type: 'stop' }));
    ui.reset.addEventListener('click', () => send({ type: 'reset' }));
    ui.clear.addEventListener('click', () => ui.output.replaceChildren());
    connect();
    document.body.dataset.ready = 'true';
  }

  // For tests (and a person at the console): replace a tab's text wholesale (the tab is made
  // when missing), or go back to the tabs and texts the page starts with.
  window.playground = {
    setText(name, text) {
      const tab = tabs.get(name) || addTab(name, '');
      tab.model.setValue(text);
      select(name);
    },
    diagnosticsDelay: DIAGNOSTICS_DELAY_MS,
    // True while an editor request is on its way or markers are due.
    busy() {
      return window.LintoraProviders.pending() > 0 || [...tabs.values()].some((tab) => tab.timer !== null);
    },
    reset() {
      for (const name of [...tabs.keys()]) closeTab(name);
      tabs.get(SCRIPT).model.setValue(STARTER.main);
      monaco.editor.setModelMarkers(tabs.get(SCRIPT).model, 'lintora', []);
      addTab('helpers', STARTER.helpers);
      select(SCRIPT);
      editor.setPosition({ lineNumber: 1, column: 1 });
      ui.output.replaceChildren();
      document.body.dataset.runs = '0';
    },
  };

  window.require.config({ paths: { vs: 'vs' } });
  window.require(['vs/editor/editor.main'], start);
}());
