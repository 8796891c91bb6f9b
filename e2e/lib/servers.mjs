// The web servers that the browser test deploys convert.cgi under. Each start
// function takes { serverRoot, cgiDir, releaseProgram } and returns a running
// WebServer on a free port of 127.0.0.1 that serves cgiDir/convert.cgi at
// /cgi-bin/convert.cgi and runs it as www-data; or, where it says so itself
// (formPath, scriptFilename, user, credentials), another program at another
// address, run as another user, behind a password.
import { startApache, startDebianApache } from './apache.mjs';
import { startLighttpd } from './lighttpd.mjs';
import { startNginx } from './nginx.mjs';
import { startSharedHosting } from './shared_hosting.mjs';

export const SERVERS = [
  {
    name: 'apache-event-cgid',
    title: "Debian's Apache: event MPM, mod_cgid",
    start: startDebianApache,
    // mod_deflate is on as Debian ships it; the program's lines keep it off the page.
    deflates: true,
    // The servers a site owner on Debian most likely has: they also take the
    // long run that the browser leaves and the slow request body.
    usual: true,
  },
  {
    name: 'apache-prefork-cgi',
    title: 'Apache: prefork MPM, mod_cgi',
    start: startApache,
  },
  {
    name: 'nginx-fcgiwrap',
    title: 'nginx with fcgiwrap',
    start: startNginx,
    usual: true,
  },
  {
    name: 'lighttpd-cgi',
    title: 'lighttpd: mod_cgi',
    start: startLighttpd,
    // lighttpd passes CONTENT_LENGTH on every request, 0 with a page load:
    // the program takes a GET without a body for one.
  },
  {
    name: 'shared-hosting-suexec',
    title: "Shared hosting: Debian's Apache, mod_userdir, suEXEC, mod_cgi, .htaccess",
    start: startSharedHosting,
    // The program runs as the account, behind the password of its .htaccess.
    sharedHosting: true,
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
