// A private lighttpd (Debian's lighttpd) with mod_cgi, taking the lines of
// e2e/servers/lighttpd-cgi.conf. It drops to www-data as it starts, and opens
// its logs after that: they are made beforehand and handed to that user.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {
  DEBIAN_CGI_DIR,
  SERVER_USER,
  WebServer,
  onFreePort,
  snippet,
  stopByPidFile,
  userIds,
  waitUntilServing,
} from './daemon.mjs';

const LIGHTTPD = '/usr/sbin/lighttpd';

function configuration({ port, serverRoot, cgiLines }) {
  return `# Written by the convert.cgi browser test
server.modules = ( "mod_access", "mod_alias", "mod_accesslog" )
server.bind = "127.0.0.1"
server.port = ${port}
server.document-root = "${serverRoot}/htdocs"
server.upload-dirs = ( "${serverRoot}/uploads" )
server.pid-file = "${serverRoot}/lighttpd.pid"
server.errorlog = "${serverRoot}/error.log"
accesslog.filename = "${serverRoot}/access.log"
server.username = "${SERVER_USER}"
server.groupname = "${SERVER_USER}"

${cgiLines}`;
}

// Beyond its own start and stop lines, lighttpd's error log holds what went
// wrong with a CGI program and what the program wrote to stderr.
const isTrouble = (line) => !/\(server\.c\.\d+\) (server started|server stopped)/.test(line);

// Starts lighttpd on a free port on 127.0.0.1, serving the programs of cgiDir
// under /cgi-bin/. serverRoot holds the configuration, the pid file
// lighttpd.pid and the logs.
export async function startLighttpd({ serverRoot, cgiDir }) {
  const user = userIds(SERVER_USER);
  fs.mkdirSync(path.join(serverRoot, 'htdocs'), { recursive: true });
  fs.mkdirSync(path.join(serverRoot, 'uploads'), { recursive: true });
  fs.chownSync(path.join(serverRoot, 'uploads'), user.uid, user.gid);
  const cgiLines = snippet('lighttpd-cgi.conf', { [DEBIAN_CGI_DIR]: cgiDir });
  return onFreePort(async (port) => {
    const server = new WebServer({
      port,
      pidFiles: [path.join(serverRoot, 'lighttpd.pid')],
      logFiles: [path.join(serverRoot, 'error.log')],
      isTrouble,
    });
    for (const log of [server.errorLog, path.join(serverRoot, 'access.log')]) {
      fs.writeFileSync(log, '', { flag: 'a' });
      fs.chownSync(log, user.uid, user.gid);
    }
    const configFile = path.join(serverRoot, 'lighttpd.conf');
    fs.writeFileSync(configFile, configuration({ port, serverRoot, cgiLines }));
    // Without -D, lighttpd detaches once it listens.
    execFileSync(LIGHTTPD, ['-f', configFile], {
      stdio: ['ignore', 'inherit', 'inherit'],
      env: { PATH: '/usr/sbin:/usr/bin:/sbin:/bin' },
    });
    if (await waitUntilServing(server.pidFile, port)) return server;
    const log = server.logText();
    await stopByPidFile(server.pidFile);
    throw new Error(`lighttpd did not come up on 127.0.0.1:${port}\n${log}`);
  });
}
