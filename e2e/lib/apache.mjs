// Private Apache httpd servers that serve convert.cgi as a CGI program, bound to
// 127.0.0.1 only, children running as www-data, configuration, pid file and logs
// under one folder:
// - startApache: a hand-written configuration, prefork MPM and mod_cgi
//   (Debian's apache2-bin is enough);
// - startDebianApache: a private copy of Debian's /etc/apache2 as the apache2
//   package ships it (event MPM), with mod_cgid enabled by a2enmod.
// Both serve the program with the lines of e2e/servers/apache-cgi-bin.conf.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {
  DEBIAN_CGI_DIR,
  SERVER_USER,
  WebServer,
  onFreePort,
  snippet,
  userIds,
  waitUntilServing,
} from './daemon.mjs';

export { SERVER_USER, stopByPidFile, userIds } from './daemon.mjs';

export const APACHE_BINARY = '/usr/sbin/apache2';
const MODULES = '/usr/lib/apache2/modules';
const DEBIAN_CONFIG = '/etc/apache2';
const PATH = '/usr/sbin:/usr/bin:/sbin:/bin';

// The program's lines; cgiDir has no trailing slash.
const cgiLines = (cgiDir) => snippet('apache-cgi-bin.conf', { [DEBIAN_CGI_DIR]: cgiDir });

// What the program writes to stderr is logged by the CGI module, and a response
// the server could not read or pass on as an error (the browser's request for a
// favicon aside).
const isCgiTrouble = (line) =>
  /\[cgid?:/.test(line) || (/:(error|crit|alert|emerg)\]/.test(line) && !line.includes('/favicon.ico'));

function preforkConfiguration({ port, serverRoot, cgiDir }) {
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
LoadModule env_module ${MODULES}/mod_env.so

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

${cgiLines(cgiDir)}`;
}

function apacheServer(port, serverRoot, pidFile, errorLog) {
  return new WebServer({
    port,
    pidFiles: [pidFile],
    logFiles: [errorLog],
    isTrouble: isCgiTrouble,
  });
}

// `launch`, if given, is a command that runs the server's command line after it.
async function startDetached(server, args, env, what, launch = []) {
  // "-k start" detaches: the server lives on its own until stopped by pid file.
  const [command, ...before] = [...launch, APACHE_BINARY];
  execFileSync(command, [...before, ...args, '-k', 'start'], {
    stdio: ['ignore', 'inherit', 'inherit'],
    env: { PATH, ...env },
  });
  if (await waitUntilServing(server.pidFile, server.port)) return server;
  const log = server.logText();
  await server.stop();
  throw new Error(`${what} did not come up on 127.0.0.1:${server.port}\n${log}`);
}

// Starts Apache (prefork, mod_cgi) on 127.0.0.1:port (a fresh free port when
// port is 0) serving the CGI programs of cgiDir under /cgi-bin/. serverRoot is
// created and holds the configuration, the pid file httpd.pid and the logs.
export async function startApache({ serverRoot, cgiDir, port = 0 }) {
  return onFreePort(async (chosen) => {
    fs.mkdirSync(path.join(serverRoot, 'run'), { recursive: true });
    fs.mkdirSync(path.join(serverRoot, 'htdocs'), { recursive: true });
    const server = apacheServer(
      chosen,
      serverRoot,
      path.join(serverRoot, 'httpd.pid'),
      path.join(serverRoot, 'error.log'),
    );
    fs.rmSync(server.pidFile, { force: true });
    fs.rmSync(server.errorLog, { force: true });
    const configFile = path.join(serverRoot, 'httpd.conf');
    fs.writeFileSync(configFile, preforkConfiguration({ port: chosen, serverRoot, cgiDir }));
    return startDetached(server, ['-f', configFile], {}, 'Apache');
  }, port);
}

// Runs a2enmod, a2enconf and the like on the private copy only: both honour
// APACHE_CONFDIR, and they note the admin's choices under APACHE_STATE_DIRECTORY.
export function a2(command, args, confDir, stateDir) {
  execFileSync(`/usr/sbin/${command}`, ['-q', ...args], {
    stdio: ['ignore', 'ignore', 'inherit'],
    env: { PATH, APACHE_CONFDIR: confDir, APACHE_STATE_DIRECTORY: stateDir },
  });
}

// Prepares serverRoot/etc as a site owner would prepare /etc/apache2: mod_cgid
// enabled, the program's lines as conf-available/convert-cgi.conf enabled in
// place of Debian's serve-cgi-bin (which names /usr/lib/cgi-bin), no default
// site, and only 127.0.0.1:port to listen on.
function prepareCgiBin(confDir, stateDir, cgiDir) {
  a2('a2enmod', ['cgid'], confDir, stateDir);
  a2('a2disconf', ['serve-cgi-bin'], confDir, stateDir);
  a2('a2dissite', ['000-default'], confDir, stateDir);
  fs.writeFileSync(path.join(confDir, 'conf-available/convert-cgi.conf'), cgiLines(cgiDir));
  a2('a2enconf', ['convert-cgi'], confDir, stateDir);
}

// serverRoot/etc: a copy of /etc/apache2 as the package ships it.
function copyDebianConfig(serverRoot) {
  const confDir = path.join(serverRoot, 'etc');
  fs.rmSync(confDir, { recursive: true, force: true });
  fs.mkdirSync(serverRoot, { recursive: true });
  execFileSync('cp', ['-a', DEBIAN_CONFIG, confDir]); // keeps the relative links
  if (!fs.existsSync(path.join(confDir, 'mods-enabled/mpm_event.load'))) {
    throw new Error(`${DEBIAN_CONFIG} does not enable the event MPM as Debian ships it`);
  }
  return confDir;
}

// Starts Debian's Apache from a private copy of /etc/apache2 that
// `prepare(confDir, stateDir)` changes as an admin would, on a free port, through
// `launch` (see startDetached). The variables that Debian's envvars sets point
// into serverRoot, which holds the pid file apache2.pid and the logs (log/); the
// run and lock folders are made as apache2ctl makes them.
export async function startPreparedDebianApache({ serverRoot, prepare, launch = [] }) {
  const confDir = copyDebianConfig(serverRoot);
  prepare(confDir, path.join(serverRoot, 'state'));
  const runDir = path.join(serverRoot, 'run');
  const lockDir = path.join(serverRoot, 'lock');
  const logDir = path.join(serverRoot, 'log');
  const user = userIds(SERVER_USER);
  for (const dir of [runDir, path.join(runDir, 'socks'), lockDir, logDir]) {
    fs.mkdirSync(dir, { recursive: true });
  }
  fs.chownSync(path.join(runDir, 'socks'), user.uid, user.gid);
  fs.chownSync(lockDir, user.uid, user.gid);
  const env = {
    APACHE_RUN_USER: SERVER_USER,
    APACHE_RUN_GROUP: SERVER_USER,
    APACHE_PID_FILE: path.join(serverRoot, 'apache2.pid'),
    APACHE_RUN_DIR: runDir,
    APACHE_LOCK_DIR: lockDir,
    APACHE_LOG_DIR: logDir,
    LANG: 'C',
  };
  return onFreePort(async (port) => {
    fs.writeFileSync(
      path.join(confDir, 'ports.conf'),
      `# Written by the convert.cgi browser test\nListen 127.0.0.1:${port}\nServerName 127.0.0.1\n`,
    );
    const server = apacheServer(port, serverRoot, env.APACHE_PID_FILE, path.join(logDir, 'error.log'));
    fs.rmSync(server.pidFile, { force: true });
    return startDetached(server, ['-d', confDir], env, "Debian's Apache", launch);
  });
}

// Debian's Apache as a site owner with root sets it up for the program (see
// prepareCgiBin).
export function startDebianApache({ serverRoot, cgiDir }) {
  return startPreparedDebianApache({
    serverRoot,
    prepare: (confDir, stateDir) => prepareCgiBin(confDir, stateDir, cgiDir),
  });
}
