// Source and target installations on disk, laid out so that the web server's user
// can use them, and the bytes a correct conversion writes into the target.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { fillIn, goldenTable, goldenText } from './page.mjs';

// The 30 fields of a plausible source trade; fields[0] is field 1.
export function sampleTrade(number, key) {
  const fields = Array.from({ length: 30 }, (_, i) => `v${i + 1}`);
  fields[0] = number;
  fields[1] = key;
  for (let field = 10; field <= 15; field++) fields[field - 1] = String(field * 3);
  fields[15] = '16';
  fields[19] = '';
  return fields;
}

export const sourceLine = (fields) => `|${fields.join('|')}|\n`;

// The names of an installation's files by role (index, counter ...), to follow
// its directory as typed; a C++ test holds them to the program's.
export const FILE = Object.fromEntries(goldenTable('file_names.txt'));
export const statsFile = (id) => fillIn(FILE.statistics, { ID: String(id) });
export const historyFile = (key) => fillIn(FILE.history, { KEY: key });

// The 996-byte target record, from the layout that a C++ test holds against the
// program's fields: [name, offset, width, initial value of each 4-byte integer
// or 'text'], in file order.
const LAYOUT = goldenTable('record_layout.txt');
const FIELDS = Object.fromEntries(LAYOUT.map(([name, offset, width]) => [name, [+offset, +width]]));
export const RECORD_SIZE = Math.max(...Object.values(FIELDS).map(([offset, width]) => offset + width));

function putInt(record, name, value, index = 0) {
  record.writeInt32LE(value, FIELDS[name][0] + 4 * index);
}

function putText(record, name, text) {
  const [offset, width] = FIELDS[name];
  const bytes = Buffer.from(text, 'latin1');
  if (bytes.length >= width) throw new Error(`${name} too long for the record`);
  record.fill(0, offset, offset + width);
  bytes.copy(record, offset);
}

// A record with every field at its initial value, then `id` and `key`.
export function plainRecord(id, key) {
  const record = Buffer.alloc(RECORD_SIZE);
  for (const [name, , width, initial] of LAYOUT) {
    if (initial === 'text') continue;
    for (let i = 0; i < Number(width) / 4; i++) putInt(record, name, Number(initial), i);
  }
  putInt(record, 'id', id);
  putText(record, 'key', key);
  return record;
}

// The record a conversion of sampleTrade(number, key) writes.
export function convertedSampleRecord(id, key, note) {
  const record = plainRecord(id, key);
  putText(record, 'text3', 'v3');
  putText(record, 'text21', 'v21');
  putText(record, 'text4', 'v4');
  putText(record, 'text5', 'v5');
  putText(record, 'text6', 'v6');
  putText(record, 'note', note);
  putInt(record, 'number16', 16);
  putInt(record, 'number12', 1); // field 12 is 36: not 0, 1 or 2
  putInt(record, 'number11', 33);
  for (let i = 0; i < 24; i++) putInt(record, 'slots10', 30, i);
  return record;
}

// The date part of the added-by note, as the program formats it under the
// server: the machine's local time zone (the CGI environment has no TZ) and
// English month names (no locale is set).
export function serverDate() {
  return execFileSync('date', ['+%d %b, %Y'], {
    env: { PATH: '/usr/bin:/bin' },
    encoding: 'latin1',
  }).trim();
}

export const capsLines = (id) => `|${id}|1|39|\n|${id}|2|42|\n|${id}|3|45|\n`;
export const summaryLine = (id) => fillIn(goldenText('summary_line.txt'), { ID: String(id) });
export const toplistLine = (key) => `|${key}|v17|v18|v19|||\n`;
export const EMPTY_TOPLIST = '|a|b|c|d|e|f|\n';
export const STATS_FILE_SIZE = 80640;

// Folders get 0755 and files `mode` whatever the umask: the server's user must
// be able to reach and read them.
export function makeFolder(dir) {
  const missing = [];
  for (let d = dir; !fs.existsSync(d); d = path.dirname(d)) missing.push(d);
  fs.mkdirSync(dir, { recursive: true });
  for (const d of missing) fs.chmodSync(d, 0o755);
}

function writeTree(root, files, mode) {
  for (const [relative, contents] of Object.entries(files)) {
    const file = path.join(root, relative);
    makeFolder(path.dirname(file));
    fs.writeFileSync(file, contents);
    fs.chmodSync(file, mode);
  }
}

// Folders 0755 and files `fileMode` under root (root itself included); with an
// owner, all of it handed to that user.
export function setTreeAccess(root, { fileMode = 0o644, owner } = {}) {
  for (const name of ['', ...fs.readdirSync(root, { recursive: true })]) {
    const file = path.join(root, name);
    fs.chmodSync(file, fs.statSync(file).isDirectory() ? 0o755 : fileMode);
    if (owner) fs.chownSync(file, owner.uid, owner.gid);
  }
}

// A source installation "<dir>/tn3/" and a target "<dir>/kv2/". The source is
// root's and only readable by others; the target belongs to `owner` (the web
// server's user). The target starts with the counter "10", a toplist whose first
// line holds six values, empty caps and summary files and the history folder; pass
// null in targetFiles to leave a file out.
export function makeInstallations(dir, { sourceTrades, targetRecords = [], targetFiles = {}, owner }) {
  const source = path.join(dir, 'tn3') + '/';
  const target = path.join(dir, 'kv2') + '/';
  makeFolder(dir);
  writeTree(source, { [FILE.index]: sourceTrades.map(sourceLine).join('') }, 0o644);
  const files = {
    [FILE.index]: Buffer.concat(targetRecords),
    [FILE.counter]: '10',
    [FILE.toplist]: EMPTY_TOPLIST,
    [FILE.caps]: '',
    [FILE.summary]: '',
    ...targetFiles,
  };
  for (const [name, contents] of Object.entries(files)) {
    if (contents === null) delete files[name];
  }
  writeTree(target, files, 0o644);
  makeFolder(target + FILE.historyFolder);
  setTreeAccess(target, { owner });
  return { source, target };
}

// Every file under root, relative path to contents.
export const readTree = (root) =>
  Object.fromEntries(
    fs
      .readdirSync(root, { recursive: true })
      .filter((name) => fs.statSync(path.join(root, name)).isFile())
      .map((name) => [name, fs.readFileSync(path.join(root, name))]),
  );
