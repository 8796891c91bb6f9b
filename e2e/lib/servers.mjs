// The five server setups of the README that the browser test deploys convert.cgi under,
// started and stopped by e2e/servers.sh in the private namespaces that the test runs in:
// each serves http://127.0.0.1:8080, with the paths the README names.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';

const HARNESS = new URL('../servers.sh', import.meta.url).pathname;
export const BASE_URL = 'http://127.0.0.1:8080';
export const SERVER_USER = 'www-data';
export const SUEXEC_LOG = '/var/log/apache2/suexec.log';
const APACHE_LOG = '/var/log/apache2/error.log';
const OWNER = { username: 'owner', password: 'secret' };
const ACCOUNT = 'siteowner';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export function readText(file) {
  try {
    return fs.readFileSync(file, 'utf8');
  } catch {
    return '';
  }
}

export function userIds(name) {
  const line = readText('/etc/passwd').split('\n').find((entry) => entry.startsWith(`${name}:`));
  if (!line) throw new Error(`no user ${name} in /etc/passwd`);
  const [, , uid, gid] = line.split(':');
  return { uid: Number(uid), gid: Number(gid) };
}

// What the CGI module logs of the program's stderr, and a response the server could not
// read or pass on as an error (the browser's request for a favicon aside).
const isApacheTrouble = (line) =>
  /\[cgid?:/.test(line) || (/:(error|crit|alert|emerg)\]/.test(line) && !line.includes('/favicon.ico'));
// suEXEC's line for a program it started goes on "uid: (...) gid: (...) cmd: ..."; any other
// tells why it refused.
const isSuexecRefusal = (line) => /^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]: /.test(line) && !/\]: uid: \(/.test(line);

export const SERVERS = [
  {
    name: 'apache-event-cgid',
    setup: 'apache',
    title: "Debian's Apache: event MPM, mod_cgid, the README's walk with its password",
    credentials: OWNER,
    // mod_deflate is on as Debian ships it; the README's lines keep it off the page.
    deflates: true,
    // The servers a site owner on Debian most likely has: they also take the long run
    // that the browser leaves and the slow request body.
    usual: true,
    logs: [APACHE_LOG],
    isTrouble: isApacheTrouble,
  },
  {
    name: 'apache-prefork-cgi',
    setup: 'prefork',
    title: "Debian's Apache: prefork MPM, mod_cgi",
    logs: [APACHE_LOG],
    isTrouble: isApacheTrouble,
  },
  {
    name: 'nginx-fcgiwrap',
    setup: 'nginx',
    title: 'nginx with fcgiwrap',
    usual: true,
    // nginx logs the program's stderr as "FastCGI sent in stderr"; fcgiwrap's log stays empty.
    logs: ['/var/log/nginx/error.log', '/var/log/nginx/fcgiwrap.log'],
    isTrouble: (line) => /\[(error|crit|alert|emerg)\]|FastCGI sent in stderr|^[^0-9]/.test(line),
  },
  {
    name: 'lighttpd-cgi',
    setup: 'lighttpd',
    title: 'lighttpd: mod_cgi',
    // lighttpd passes CONTENT_LENGTH 0 with a page load: the program takes a GET without a
    // body for one. Beyond its start and stop lines, its log holds trouble only.
    logs: ['/var/log/lighttpd/error.log'],
    isTrouble: (line) => !/\(server\.c\.\d+\) (server started|server stopped)/.test(line),
  },
  {
    name: 'shared-hosting-suexec',
    setup: 'hosting',
    title: "Shared hosting: Debian's Apache, mod_userdir, suEXEC, mod_cgi, .htaccess",
    // The release's program runs as the account, behind the password of its .htaccess; a
    // neighbour's page has the form's origin.
    sharedHosting: true,
    credentials: OWNER,
    account: ACCOUNT,
    formPath: `/~${ACCOUNT}/cgi-bin/convert.cgi`,
    programFile: `/home/${ACCOUNT}/public_html/cgi-bin/convert.cgi`,
    neighbourPage: { path: '/~neighbour/', file: '/home/neighbour/public_html/index.html' },
    logs: [APACHE_LOG, SUEXEC_LOG],
    isTrouble: (line) => isApacheTrouble(line) || isSuexecRefusal(line),
  },
];

// E2E_SERVERS="name,name" picks some of them.
export function chosenServers(names = process.env.E2E_SERVERS) {
  if (!names) return SERVERS;
  const wanted = names.split(',');
  const unknown = wanted.filter((name) => !SERVERS.some((server) => server.name === name));
  if (unknown.length > 0) throw new Error(`unknown servers: ${unknown.join(', ')}`);
  return SERVERS.filter((server) => wanted.includes(server.name));
}

// Runs the harness, its output to a file: the servers it starts keep their own.
function harness(...args) {
  const log = `${process.env.SERVERS_WORK}/harness.log`;
  fs.writeFileSync(log, '');
  const out = fs.openSync(log, 'a');
  const run = spawnSync(HARNESS, args, { stdio: ['ignore', out, out] });
  fs.closeSync(out);
  if (run.status !== 0) throw new Error(`e2e/servers.sh ${args.join(' ')} failed:\n${readText(log)}`);
}

// Starts the setup of `kind`; returns the site: its form's address, the program's file,
// the user the program runs as, and the server's logs.
export function startServer(kind) {
  harness('start', kind.setup);
  const programFile = kind.programFile ?? '/usr/lib/cgi-bin/convert.cgi';
  return {
    ...kind,
    formUrl: `${BASE_URL}${kind.formPath ?? '/cgi-bin/convert.cgi'}`,
    programFile,
    scriptFilename: programFile,
    user: userIds(kind.account ?? SERVER_USER),
  };
}

export const stopServers = () => harness('stop');

// Where the logs of `site` end now, and the lines written since such a mark.
export const logMark = (site) => site.logs.map((file) => Buffer.byteLength(readText(file)));
export const logSince = (site, mark) =>
  site.logs.flatMap((file, i) =>
    Buffer.from(readText(file)).subarray(mark[i]).toString().split('\n').filter((line) => line !== ''),
  );
export const logText = (site) => site.logs.map((file) => `--- ${file} ---\n${readText(file)}`).join('\n');
