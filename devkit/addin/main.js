#!/usr/bin/env node
'use strict';
// Runs the add-in over stdin/stdout: one JSON message per line in each direction. Diagnostics
// go to stderr. The process ends when stdin closes, which is how the kernel stops it.
//
// Options: --setting NAME=VALUE (repeatable; VALUE is read as JSON when it parses, else as text)
//          --verbose            log every message to stderr

const readline = require('readline');
const { Addin } = require('./addin');

function parseArgs(argv) {
  const settings = {};
  let verbose = false;
  for (let i = 0; i < argv.length; i += 1) {
    if (argv[i] === '--verbose') verbose = true;
    else if (argv[i] === '--setting' && i + 1 < argv.length) {
      const text = argv[++i];
      const eq = text.indexOf('=');
      if (eq <= 0) throw new Error(`--setting needs NAME=VALUE, got ${text}`);
      const raw = text.slice(eq + 1);
      let value;
      try { value = JSON.parse(raw); } catch (err) { value = raw; }
      settings[text.slice(0, eq)] = value;
    } else {
      throw new Error(`unknown option ${argv[i]}`);
    }
  }
  return { settings, verbose };
}

function main() {
  const { settings, verbose } = parseArgs(process.argv.slice(2));
  const log = (text) => process.stderr.write(`[addin] ${text}\n`);
  const send = (message) => {
    const line = JSON.stringify(message);
    if (verbose) log(`-> ${line}`);
    process.stdout.write(`${line}\n`);
  };
  const addin = new Addin({ send, settings, log });
  process.stdout.on('error', () => process.exit(0)); // the kernel went away
  const input = readline.createInterface({ input: process.stdin, crlfDelay: Infinity });
  input.on('line', (line) => {
    if (line.trim() === '') return;
    if (verbose) log(`<- ${line}`);
    let message;
    try {
      message = JSON.parse(line);
    } catch (err) {
      log(`ignoring a line that is not JSON: ${line.slice(0, 200)}`);
      return;
    }
    addin.receive(message);
  });
  input.on('close', () => process.exit(0));
}

main();
