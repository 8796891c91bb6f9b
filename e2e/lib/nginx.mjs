// A private nginx (Debian's nginx-light) in front of fcgiwrap, which runs
// convert.cgi as www-data. nginx takes the lines of
// e2e/servers/nginx-location.conf; fcgiwrap listens on a socket under serverRoot
// instead of Debian's /run/fcgiwrap.socket and is started as Debian's unit
// starts it (-f: the program's stderr goes to nginx's error log).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {
  DEBIAN_CGI_DIR,
  DEBIAN_FCGIWRAP_SOCKET,
  SERVER_USER,
  WebServer,
  onFreePort,
  sleep,
  snippet,
  stopByPidFile,
  userIds,
  waitUntilServing,
} from './daemon.mjs';

const NGINX = '/usr/sbin/nginx';
const FCGIWRAP = '/usr/sbin/fcgiwrap';

function configuration({ port, serverRoot, location }) {
  const temp = (name) => path.join(serverRoot, 'temp', name);
  return `# Written by the convert.cgi browser test
user ${SERVER_USER};
worker_processes 1;
pid ${serverRoot}/nginx.pid;
error_log ${serverRoot}/error.log info;
events {
    worker_connections 64;
}
http {
    access_log ${serverRoot}/access.log;
    log_not_found off;
    client_body_temp_path ${temp('body')};
    fastcgi_temp_path ${temp('fastcgi')};
    proxy_temp_path ${temp('proxy')};
    scgi_temp_path ${temp('scgi')};
    uwsgi_temp_path ${temp('uwsgi')};
    server {
        listen 127.0.0.1:${port};
        server_name 127.0.0.1;
        root ${serverRoot}/htdocs;

${location}
    }
}
`;
}

// Starts fcgiwrap as the server's user on `socket`; returns once it listens.
async function startFcgiwrap(socket, pidFile, logFile) {
  const user = userIds(SERVER_USER);
  const socketDir = path.dirname(socket);
  fs.mkdirSync(socketDir, { recursive: true });
  fs.chownSync(socketDir, user.uid, user.gid);
  fs.rmSync(socket, { force: true });
  const log = fs.openSync(logFile, 'a');
  const child = spawn(
    '/usr/bin/setpriv',
    [
      `--reuid=${user.uid}`,
      `--regid=${user.gid}`,
      '--init-groups',
      FCGIWRAP,
      '-f',
      '-s',
      `unix:${socket}`,
    ],
    { detached: true, stdio: ['ignore', log, log], env: { PATH: '/usr/bin:/bin' } },
  );
  fs.closeSync(log);
  child.unref();
  fs.writeFileSync(pidFile, `${child.pid}\n`); // setpriv execs fcgiwrap: the same pid
  for (let waited = 0; waited < 10000; waited += 50) {
    if (fs.existsSync(socket)) return;
    if (child.exitCode !== null) break;
    await sleep(50);
  }
  await stopByPidFile(pidFile);
  throw new Error(`fcgiwrap did not listen on ${socket}\n${fs.readFileSync(logFile, 'utf8')}`);
}

// nginx logs at [error] and above what went wrong with the program, and what it
// wrote to stderr as "FastCGI sent in stderr"; fcgiwrap's own log should stay empty.
const isTrouble = (line) => /\[(error|crit|alert|emerg)\]|FastCGI sent in stderr|^[^0-9]/.test(line);

// Starts fcgiwrap and nginx on a free port on 127.0.0.1, serving convert.cgi of
// cgiDir at /cgi-bin/convert.cgi. serverRoot holds the configuration, the pid
// files nginx.pid and fcgiwrap.pid, the socket and the logs.
export async function startNginx({ serverRoot, cgiDir }) {
  fs.mkdirSync(path.join(serverRoot, 'temp'), { recursive: true });
  fs.mkdirSync(path.join(serverRoot, 'htdocs'), { recursive: true });
  const socket = path.join(serverRoot, 'fcgiwrap/fcgiwrap.socket');
  const fcgiwrapPid = path.join(serverRoot, 'fcgiwrap.pid');
  const fcgiwrapLog = path.join(serverRoot, 'fcgiwrap.log');
  await startFcgiwrap(socket, fcgiwrapPid, fcgiwrapLog);
  const location = snippet('nginx-location.conf', {
    [DEBIAN_CGI_DIR]: cgiDir,
    [DEBIAN_FCGIWRAP_SOCKET]: socket,
  });
  try {
    return await onFreePort(async (port) => {
      const server = new WebServer({
        port,
        pidFiles: [path.join(serverRoot, 'nginx.pid'), fcgiwrapPid],
        logFiles: [path.join(serverRoot, 'error.log'), fcgiwrapLog],
        isTrouble,
      });
      const configFile = path.join(serverRoot, 'nginx.conf');
      fs.writeFileSync(configFile, configuration({ port, serverRoot, location }));
      execFileSync(NGINX, ['-p', `${serverRoot}/`, '-e', server.errorLog, '-c', configFile], {
        stdio: ['ignore', 'inherit', 'inherit'],
        env: { PATH: '/usr/sbin:/usr/bin:/sbin:/bin' },
      });
      if (await waitUntilServing(server.pidFile, port)) return server;
      const log = server.logText();
      await stopByPidFile(server.pidFile);
      throw new Error(`nginx did not come up on 127.0.0.1:${port}\n${log}`);
    });
  } catch (error) {
    await stopByPidFile(fcgiwrapPid);
    throw error;
  }
}
