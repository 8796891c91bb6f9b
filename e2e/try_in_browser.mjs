// Serves convert.cgi on http://127.0.0.1:<port>/cgi-bin/convert.cgi (8080 unless
// PORT says otherwise) with a scratch copy of the bundled example installations,
// until Ctrl-C. Run as root: Apache runs the program as www-data.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { SERVER_USER, startApache, userIds } from './lib/apache.mjs';
import { setTreeAccess } from './lib/installation.mjs';

// Not import.meta.dirname: Debian 12's node (18) does not have it.
const repo = fileURLToPath(new URL('..', import.meta.url));
const binary = path.resolve(process.env.CONVERT_CGI ?? path.join(repo, 'build/convert.cgi'));
const port = Number(process.env.PORT ?? 8080);

if (process.getuid() !== 0) {
  console.error('run as root: Apache must be started as root to run the program as www-data');
  process.exit(1);
}

const scratch = process.env.E2E_SCRATCH ?? fs.mkdtempSync('/tmp/convert-try-');
fs.chmodSync(scratch, 0o755);
const source = path.join(scratch, 'tn3') + '/';
const target = path.join(scratch, 'kv2') + '/';
fs.cpSync(path.join(repo, 'examples/tn3'), source, { recursive: true });
fs.cpSync(path.join(repo, 'examples/kv2'), target, { recursive: true });
setTreeAccess(source); // readable by the server's user
setTreeAccess(target, { owner: userIds(SERVER_USER) }); // the program writes here

const cgiDir = path.join(scratch, 'cgi-bin');
fs.mkdirSync(cgiDir);
fs.chmodSync(cgiDir, 0o755);
fs.copyFileSync(binary, path.join(cgiDir, 'convert.cgi'));
fs.chmodSync(path.join(cgiDir, 'convert.cgi'), 0o755);

let server;
try {
  server = await startApache({ serverRoot: path.join(scratch, 'apache'), cgiDir, port });
} catch (error) {
  console.error(`${error.message}\n(is something else using port ${port}? try PORT=8081)`);
  process.exit(1);
}

console.log(`
convert.cgi is served by Apache httpd (pid file ${server.pidFile}).

  Open:                            ${server.baseUrl}/cgi-bin/convert.cgi
  path to tolvane 3 directory:     ${source}
  path to kavrel v2 directory:     ${target}

Submit, then look at what changed in ${target} (a scratch copy: examples/ is
never written). Submitting again shows every trade as skipping.
Server log: ${server.errorLog}
Press Ctrl-C to stop the server.`);

let stopping = false;
async function stop() {
  if (stopping) return;
  stopping = true;
  await server.stop();
  console.log(`\nserver stopped; the scratch installations stay in ${scratch}`);
  process.exit(0);
}
process.on('SIGINT', stop);
process.on('SIGTERM', stop);
process.on('SIGHUP', stop);
setInterval(() => {}, 1 << 30); // stay up until a signal comes
