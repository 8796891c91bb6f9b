// What every web server of the browser test shares: the server's user, free
// ports on 127.0.0.1, the CGI lines of e2e/servers/ with this test's paths put
// in, and stopping a process by its pid file.
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const SERVER_USER = 'www-data';
// The paths that the lines of e2e/servers/ name, as a Debian site would have them.
export const DEBIAN_CGI_DIR = '/usr/lib/cgi-bin';
export const DEBIAN_FCGIWRAP_SOCKET = '/run/fcgiwrap.socket';
const SNIPPETS = fileURLToPath(new URL('../servers/', import.meta.url));

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export function userIds(name) {
  const line = fs
    .readFileSync('/etc/passwd', 'utf8')
    .split('\n')
    .find((entry) => entry.startsWith(`${name}:`));
  if (!line) throw new Error(`no user ${name} in /etc/passwd`);
  const [, , uid, gid] = line.split(':');
  return { uid: Number(uid), gid: Number(gid) };
}

// The lines of e2e/servers/<name> as they stand, with each Debian path of
// `paths` replaced by the test's own. A path the file no longer names is an
// error: the file and the test would have parted.
export function snippet(name, paths) {
  let text = fs.readFileSync(path.join(SNIPPETS, name), 'utf8');
  for (const [debianPath, ownPath] of Object.entries(paths)) {
    if (!text.includes(debianPath))
      throw new Error(`e2e/servers/${name} no longer names ${debianPath}`);
    text = text.replaceAll(debianPath, ownPath);
  }
  return text;
}

// A port that nothing listened on a moment ago.
export async function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function connects(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

// Waits until the pid file exists and the port takes connections.
export async function waitUntilServing(pidFile, port, timeoutMs = 15000) {
  for (let waited = 0; waited < timeoutMs; waited += 100) {
    if (fs.existsSync(pidFile) && (await connects(port))) return true;
    await sleep(100);
  }
  return false;
}

// A process that has ended but is not yet reaped (a zombie) counts as gone.
export function isAlive(pid) {
  try {
    process.kill(pid, 0);
  } catch (error) {
    if (error.code !== 'EPERM') return false;
  }
  const stat = readText(`/proc/${pid}/stat`);
  return !/^\d+ \(.*\) Z /s.test(stat);
}

// Stops exactly the process of this pid file (SIGTERM, then SIGKILL after 10 s)
// and waits until it has gone.
export async function stopByPidFile(pidFile) {
  let pid;
  try {
    pid = Number(fs.readFileSync(pidFile, 'utf8').trim());
  } catch {
    return; // never started, or already stopped
  }
  if (Number.isInteger(pid) && pid > 1) {
    if (isAlive(pid)) process.kill(pid, 'SIGTERM');
    for (let waited = 0; isAlive(pid) && waited < 10000; waited += 100) {
      await sleep(100);
    }
    if (isAlive(pid)) process.kill(pid, 'SIGKILL');
  }
  fs.rmSync(pidFile, { force: true });
}

// Starts a server on a fresh free port: `startOn(port)` returns the server or
// throws; another program may take the port between the probe and the start.
export async function onFreePort(startOn, port = 0) {
  const attempts = port === 0 ? 3 : 1;
  let lastError;
  for (let attempt = 0; attempt < attempts; attempt++) {
    try {
      return await startOn(port === 0 ? await freePort() : port);
    } catch (error) {
      lastError = error;
    }
  }
  throw lastError;
}

export function readText(file) {
  try {
    return fs.readFileSync(file, 'utf8');
  } catch {
    return '';
  }
}

// A running web server: its port, the pid files that stop it (in that order)
// and its logs.
export class WebServer {
  constructor({ port, pidFiles, logFiles, isTrouble }) {
    this.port = port;
    this.pidFiles = pidFiles;
    this.logFiles = logFiles;
    this.isTrouble = isTrouble;
  }

  get baseUrl() {
    return `http://127.0.0.1:${this.port}`;
  }

  get pidFile() {
    return this.pidFiles[0];
  }

  get errorLog() {
    return this.logFiles[0];
  }

  errorLogText() {
    return readText(this.errorLog);
  }

  // Every log, each under its name.
  logText() {
    return this.logFiles.map((file) => `--- ${file} ---\n${readText(file)}`).join('\n');
  }

  // Where the logs end now, for logSince.
  logMark() {
    return this.logFiles.map((file) => Buffer.byteLength(readText(file)));
  }

  // The log lines written since the mark.
  logSince(mark) {
    return this.logFiles.flatMap((file, i) =>
      Buffer.from(readText(file))
        .subarray(mark[i])
        .toString()
        .split('\n')
        .filter((line) => line !== ''),
    );
  }

  // The lines since the mark that tell of trouble with the program.
  troubleSince(mark) {
    return this.logSince(mark).filter(this.isTrouble);
  }

  async stop() {
    for (const pidFile of this.pidFiles) await stopByPidFile(pidFile);
  }
}
