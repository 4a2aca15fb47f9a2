#!/usr/bin/env node
// SPDX-License-Identifier: MIT
// Quorvane2 from JavaScript on Node with koffi: log in, list a folder and
// read the listing file, download a file, upload it back under another
// name, make one call fail on purpose and read why, log out.
//
//   npm install && node example.js SERVER USER FOLDER REMOTE-FILE LOCAL-FILE
//
// The password comes from standard input (a prompt without echo on a
// terminal), never the command line, where every local user can read it.
//
// Environment as for the Python example: QUORVANE_MODULE (default
// "libQuorvane2.so.0", or "Quorvane2.dll"), QUORVANE_DEVICE_ROOT,
// QUORVANE_TRACE (a temporary file is named when it is unset).
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const koffi = require('koffi');

const OK = 999;

// Strings cross as NUL-terminated UTF-16: koffi's "str16" (char16_t), never
// "str32" or a wchar_t type, which is 32 bits wide on Linux.
function load(file) {
  const library = koffi.load(file);
  const declare = (name, ...args) => library.func(name, 'int32_t', args);
  return {
    FTPServerLogIn: declare('FTPServerLogIn', 'str16', 'str16', 'str16'),
    FTPServerLogOut: declare('FTPServerLogOut'),
    FTPServerFiles: declare('FTPServerFiles', 'void *', 'void *', 'void *', 'str16'),
    FTPFileDownload: declare('FTPFileDownload', 'str16', 'str16'),
    FTPFileUpload: declare('FTPFileUpload', 'str16', 'str16'),
    FTPFileDelete: declare('FTPFileDelete', 'str16'),
  };
}

// Causes from the transcript: lines "[SECONDS] EVENT"; "cause: TEXT" says why
// something failed, written by a failed call before its "call ..." line.
class Transcript {
  constructor(file) {
    this.file = file;
    this.mark = 0;
  }
  beforeCall() {
    this.mark = fs.existsSync(this.file) ? fs.statSync(this.file).size : 0;
  }
  lastCause() {
    if (!fs.existsSync(this.file)) return null;
    const text = fs.readFileSync(this.file).subarray(this.mark).toString('utf8');
    let cause = null;
    for (const line of text.split('\n')) {
      const event = line.slice(line.indexOf('] ') + 2);
      if (event.startsWith('cause: ')) cause = event.slice('cause: '.length);
    }
    return cause;
  }
}

// From standard input: typed without echo on a terminal, else its first line.
function readPassword() {
  if (!process.stdin.isTTY) return fs.readFileSync(0, 'utf8').split(/\r?\n/)[0];
  process.stderr.write('Password: ');
  process.stdin.setRawMode(true);
  const bytes = [];
  const one = Buffer.alloc(1);
  while (fs.readSync(0, one, 0, 1) === 1 && one[0] !== 0x0d && one[0] !== 0x0a) {
    if (one[0] === 0x03) process.exit(130);  // Ctrl-C, which raw mode passes on
    bytes.push(one[0]);
  }
  process.stdin.setRawMode(false);
  process.stderr.write('\n');
  return Buffer.from(bytes).toString('utf8');
}

function main(argv) {
  if (argv.length !== 5) {
    console.error('usage: example.js SERVER USER FOLDER REMOTE-FILE LOCAL-FILE ' +
                  '(the password on standard input)');
    return 2;
  }
  const [server, user, folder, remote, local] = argv;
  const password = readPassword();
  // Named before the first call, when the library reads the variable.
  if (!process.env.QUORVANE_TRACE) {
    const folderForIt = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-example-'));
    process.env.QUORVANE_TRACE = path.join(folderForIt, 'transcript.log');
  }
  const transcript = new Transcript(process.env.QUORVANE_TRACE);
  const deviceRoot = process.env.QUORVANE_DEVICE_ROOT || '/';
  const ftp = load(process.env.QUORVANE_MODULE ||
                   (process.platform === 'win32' ? 'Quorvane2.dll' : 'libQuorvane2.so.0'));

  const call = (name, ...args) => {
    transcript.beforeCall();
    const result = ftp[name](...args);
    console.log(`${name}: ${result}` +
                (result === OK ? '' : ` (${transcript.lastCause() || 'no cause written'})`));
    return result === OK;
  };
  const devicePath = (p) => path.join(deviceRoot, p.replace(/\\/g, '/').replace(/^\/+/, ''));

  if (!call('FTPServerLogIn', server, user, password)) return 1;
  let ok = call('FTPServerFiles', null, null, null, folder);
  if (ok) {
    // Three lines an entry: the name, " SIZE    ", the local time.
    const lines = fs.readFileSync(path.join(deviceRoot, 'FTPFolder.txt'), 'utf8').split('\n');
    for (let i = 0; i + 2 < lines.length; i += 3)
      console.log(`  ${lines[i].padEnd(30)} ${lines[i + 1].trim().padStart(12)}  ${lines[i + 2]}`);
  }
  ok = call('FTPFileDownload', local, remote) && ok;
  if (ok) {
    console.log(`  ${fs.statSync(devicePath(local)).size} bytes in ${local}`);
    ok = call('FTPFileUpload', local, remote + '.copy') && ok;
  }
  // On purpose: a file that is not there. The cause is the server's reply.
  const failedAsExpected = !call('FTPFileDelete', 'no-such-file-for-the-example');
  call('FTPServerLogOut');
  return ok && failedAsExpected ? 0 : 1;
}

process.exitCode = main(process.argv.slice(2));
