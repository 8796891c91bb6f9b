// Runs a private Apache httpd (Debian's apache2-bin) that serves convert.cgi as a
// CGI program: its own configuration, pid file and logs under one folder, bound
// to 127.0.0.1 only, children running as www-data.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

export const APACHE_BINARY = '/usr/sbin/apache2';
const MODULES = '/usr/lib/apache2/modules';
export const SERVER_USER = 'www-data';

export function userIds(name) {
  const line = fs
    .readFileSync('/etc/passwd', 'utf8')
    .split('\n')
    .find((entry) => entry.startsWith(`${name}:`));
  if (!line) throw new Error(`no user ${name} in /etc/passwd`);
  const [, , uid, gid] = line.split(':');
  return { uid: Number(uid), gid: Number(gid) };
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

function isAlive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch (error) {
    return error.code === 'EPERM';
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function configuration({ port, serverRoot, cgiDir }) {
  return `# Written by the convert.cgi browser test; serves only ${cgiDir}
ServerRoot "${serverRoot}"
ServerName 127.0.0.1
Listen 127.0.0.1:${port}
PidFile "${serverRoot}/httpd.pid"
DefaultRuntimeDir "${serverRoot}/run"
ErrorLog "${serverRoot}/error.log"
LogLevel info
LogFormat "%h %t \\"%r\\" %>s %B" short
CustomLog "${serverRoot}/access.log" short

LoadModule mpm_prefork_module ${MODULES}/mod_mpm_prefork.so
LoadModule authz_core_module ${MODULES}/mod_authz_core.so
LoadModule alias_module ${MODULES}/mod_alias.so
LoadModule cgi_module ${MODULES}/mod_cgi.so

StartServers 1
MinSpareServers 1
MaxSpareServers 3
MaxRequestWorkers 8

User ${SERVER_USER}
Group ${SERVER_USER}

DocumentRoot "${serverRoot}/htdocs"
<Directory />
  Options None
  AllowOverride None
  Require all denied
</Directory>

ScriptAlias /cgi-bin/ "${cgiDir}/"
<Directory "${cgiDir}">
  Options None
  AllowOverride None
  Require all granted
</Directory>
`;
}

export class ApacheServer {
  constructor(serverRoot, port) {
    this.serverRoot = serverRoot;
    this.port = port;
    this.pidFile = path.join(serverRoot, 'httpd.pid');
    this.errorLog = path.join(serverRoot, 'error.log');
  }

  get baseUrl() {
    return `http://127.0.0.1:${this.port}`;
  }

  errorLogText() {
    try {
      return fs.readFileSync(this.errorLog, 'utf8');
    } catch {
      return '';
    }
  }

  // Stops exactly the server of this pid file and waits until it has gone.
  async stop() {
    await stopByPidFile(this.pidFile);
  }
}

export async function stopByPidFile(pidFile) {
  let pid;
  try {
    pid = Number(fs.readFileSync(pidFile, 'utf8').trim());
  } catch {
    return; // never started, or already stopped
  }
  if (!Number.isInteger(pid) || pid <= 1) return;
  if (isAlive(pid)) process.kill(pid, 'SIGTERM');
  for (let waited = 0; isAlive(pid) && waited < 10000; waited += 100) {
    await sleep(100);
  }
  if (isAlive(pid)) process.kill(pid, 'SIGKILL');
  fs.rmSync(pidFile, { force: true });
}

// Starts Apache on 127.0.0.1:port (a fresh free port when port is 0) serving
// the CGI programs of cgiDir under /cgi-bin/. serverRoot is created and holds the
// configuration, the pid file and the logs.
export async function startApache({ serverRoot, cgiDir, port = 0 }) {
  const attempts = port === 0 ? 3 : 1;
  let lastError;
  for (let attempt = 0; attempt < attempts; attempt++) {
    const chosen = port === 0 ? await freePort() : port;
    try {
      return await startOnce({ serverRoot, cgiDir, port: chosen });
    } catch (error) {
      lastError = error; // another program may have taken the port meanwhile
    }
  }
  throw lastError;
}

async function startOnce({ serverRoot, cgiDir, port }) {
  fs.mkdirSync(path.join(serverRoot, 'run'), { recursive: true });
  fs.mkdirSync(path.join(serverRoot, 'htdocs'), { recursive: true });
  const server = new ApacheServer(serverRoot, port);
  fs.rmSync(server.pidFile, { force: true });
  fs.rmSync(server.errorLog, { force: true });
  const configFile = path.join(serverRoot, 'httpd.conf');
  fs.writeFileSync(configFile, configuration({ port, serverRoot, cgiDir }));
  // "-k start" detaches: the server lives on its own until stopped by pid file.
  execFileSync(APACHE_BINARY, ['-f', configFile, '-k', 'start'], {
    stdio: ['ignore', 'inherit', 'inherit'],
    env: { PATH: '/usr/sbin:/usr/bin:/sbin:/bin' },
  });
  for (let waited = 0; waited < 15000; waited += 100) {
    if (fs.existsSync(server.pidFile) && (await connects(port))) return server;
    await sleep(100);
  }
  const log = server.errorLogText();
  await server.stop();
  throw new Error(`Apache did not come up on 127.0.0.1:${port}\n${log}`);
}
