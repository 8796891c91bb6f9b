// Shared hosting as a site owner meets it: Debian's Apache (prefork MPM, mod_cgi)
// with mod_userdir and mod_suexec (Debian's apache2-suexec-pristine), which runs
// each account's CGI programs as that account. The host allows the overrides of
// e2e/servers/apache-userdir.conf. The account has its own uid and a home of
// mode 0711, and has uploaded the release's static convert.cgi to
// ~/public_html/cgi-bin/ with mode 755, beside the .htaccess of
// e2e/servers/htaccess and an .htpasswd. A neighbour, another account of the
// host, has a page of its own at /~neighbour/, of the same origin as the form.
//
// The account exists only for this server: Apache runs in a mount namespace of
// its own, where copies of /etc/passwd and /etc/group name it, /home is
// serverRoot/home, and /var/log/apache2, where suEXEC logs (the path is compiled
// in), is serverRoot/log. The machine's users, homes and logs stay as they are.
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { a2, startPreparedDebianApache } from './apache.mjs';
import { readText, snippet } from './daemon.mjs';

export const ACCOUNT = 'siteowner';
const HOME = `/home/${ACCOUNT}`;
const NEIGHBOUR = 'neighbour';
const NEIGHBOUR_HOME = `/home/${NEIGHBOUR}`;
const CGI_FOLDER = `${HOME}/public_html/cgi-bin`;
const CREDENTIALS = { username: 'owner', password: 'upload-day' };
const SUEXEC = '/usr/lib/apache2/suexec';

// The first `count` ids from 2000 on that neither /etc/passwd nor /etc/group
// uses.
function freeIds(count) {
  const taken = new Set(
    ['/etc/passwd', '/etc/group'].flatMap((file) =>
      readText(file)
        .split('\n')
        .map((line) => Number(line.split(':')[2])),
    ),
  );
  const ids = [];
  for (let id = 2000; ids.length < count; id++) {
    if (!taken.has(id)) ids.push(id);
  }
  return ids;
}

// The suEXEC wrapper that Apache uses must be Debian's pristine one, whose
// compiled-in rules (suexec -V) the account has to meet.
function checkSuexec() {
  const run = spawnSync(SUEXEC, ['-V'], { encoding: 'utf8' }); // prints to stderr
  const settings = `${run.stderr}${run.stdout}`;
  const value = (name) => new RegExp(`-D ${name}="?([^"\\n]*)`).exec(settings)?.[1];
  if (value('AP_USERDIR_SUFFIX') !== 'public_html' || value('AP_HTTPD_USER') !== 'www-data') {
    throw new Error(`${SUEXEC} is not Debian's suexec-pristine:\n${settings}`);
  }
  if (!(fs.statSync(fs.realpathSync(SUEXEC)).mode & 0o4000)) throw new Error(`${SUEXEC} is not setuid`);
  return { uidMin: Number(value('AP_UID_MIN')), gidMin: Number(value('AP_GID_MIN')) };
}

// The site owner's upload, as `root` sees it from outside the namespace: the
// home, public_html and cgi-bin, the program, .htaccess and .htpasswd.
function upload(root, program, user) {
  const inRoot = (file) => path.join(root, file);
  for (const [dir, mode] of [
    ['/', 0o755],
    ['/home', 0o755],
    [HOME, 0o711],
    [`${HOME}/public_html`, 0o755],
    [CGI_FOLDER, 0o755],
  ]) {
    fs.mkdirSync(inRoot(dir), { recursive: true });
    fs.chmodSync(inRoot(dir), mode);
    if (dir.startsWith(HOME)) fs.chownSync(inRoot(dir), user.uid, user.gid);
  }
  const files = {
    'convert.cgi': [fs.readFileSync(program), 0o755],
    '.htaccess': [snippet('htaccess', { '/home/USER': HOME }), 0o644],
  };
  for (const [name, [contents, mode]] of Object.entries(files)) {
    const file = inRoot(`${CGI_FOLDER}/${name}`);
    fs.writeFileSync(file, contents);
    fs.chmodSync(file, mode);
    fs.chownSync(file, user.uid, user.gid);
  }
  const htpasswd = inRoot(`${CGI_FOLDER}/.htpasswd`);
  execFileSync('/usr/bin/htpasswd', ['-cbB', htpasswd, CREDENTIALS.username, CREDENTIALS.password], {
    stdio: 'ignore',
  });
  fs.chmodSync(htpasswd, 0o644);
  fs.chownSync(htpasswd, user.uid, user.gid);
}

// The neighbour's home and public_html, as `root` sees them from outside the
// namespace; returns where its page goes.
function neighbourSite(root, neighbour) {
  for (const [dir, mode] of [
    [NEIGHBOUR_HOME, 0o711],
    [`${NEIGHBOUR_HOME}/public_html`, 0o755],
  ]) {
    fs.mkdirSync(path.join(root, dir), { recursive: true });
    fs.chmodSync(path.join(root, dir), mode);
    fs.chownSync(path.join(root, dir), neighbour.uid, neighbour.gid);
  }
  return path.join(root, NEIGHBOUR_HOME, 'public_html/index.html');
}

// Copies of /etc/passwd and /etc/group that add the account and the neighbour.
function accountFiles(serverRoot, user, neighbour) {
  const passwd = path.join(serverRoot, 'passwd');
  const group = path.join(serverRoot, 'group');
  fs.writeFileSync(
    passwd,
    readText('/etc/passwd') +
      `${ACCOUNT}:x:${user.uid}:${user.gid}:site owner:${HOME}:/bin/sh\n` +
      `${NEIGHBOUR}:x:${neighbour.uid}:${neighbour.gid}:neighbour:${NEIGHBOUR_HOME}:/bin/sh\n`,
  );
  fs.writeFileSync(
    group,
    readText('/etc/group') + `${ACCOUNT}:x:${user.gid}:\n${NEIGHBOUR}:x:${neighbour.gid}:\n`,
  );
  for (const file of [passwd, group]) fs.chmodSync(file, 0o644);
  return { passwd, group };
}

// suEXEC's log lines begin "[YYYY-MM-DD hh:mm:ss]: "; the one for a program it
// started goes on "uid: (...) gid: (...) cmd: ...", any other tells why it refused.
const isSuexecRefusal = (line) =>
  /^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]: /.test(line) && !/\]: uid: \(/.test(line);

// Starts the shared host on a free port of 127.0.0.1 and uploads the program
// (the release's static convert.cgi). The returned server also tells the
// program's address and path, the account, the password, where the site
// owner's files are seen from outside, and the neighbour's page: its path on
// the host and its file outside.
export async function startSharedHosting({ serverRoot, releaseProgram }) {
  if (!releaseProgram) throw new Error('no release program (E2E_RELEASE_CGI): run scripts/release.sh');
  const limits = checkSuexec();
  const [id, neighbourId] = freeIds(2);
  const user = { uid: id, gid: id };
  const neighbour = { uid: neighbourId, gid: neighbourId };
  if (user.uid < limits.uidMin || user.gid < limits.gidMin) {
    throw new Error(`the account's id ${id} is below suEXEC's minimum`);
  }
  const homeRoot = path.join(serverRoot, 'home-root');
  const logDir = path.join(serverRoot, 'log');
  fs.mkdirSync(logDir, { recursive: true });
  upload(homeRoot, releaseProgram, user);
  const neighbourPageFile = neighbourSite(homeRoot, neighbour);
  const { passwd, group } = accountFiles(serverRoot, user, neighbour);
  const mounts = [
    [passwd, '/etc/passwd'],
    [group, '/etc/group'],
    [path.join(homeRoot, 'home'), '/home'],
    [logDir, '/var/log/apache2'],
  ]
    .map(([from, to]) => `mount --bind '${from}' '${to}'`)
    .join(' && ');
  const server = await startPreparedDebianApache({
    serverRoot,
    prepare(confDir, stateDir) {
      a2('a2dismod', ['mpm_event'], confDir, stateDir);
      a2('a2enmod', ['mpm_prefork', 'cgi', 'userdir', 'suexec'], confDir, stateDir);
      a2('a2dissite', ['000-default'], confDir, stateDir);
      const hostLines = snippet('apache-userdir.conf', {});
      fs.writeFileSync(path.join(confDir, 'conf-available/userdir-overrides.conf'), hostLines);
      a2('a2enconf', ['userdir-overrides'], confDir, stateDir);
    },
    launch: [
      '/usr/bin/unshare',
      '--mount',
      '--propagation',
      'private',
      '/bin/sh',
      '-ec',
      `${mounts}; exec "$0" "$@"`,
    ],
  });
  const suexecLog = path.join(logDir, 'suexec.log');
  const isApacheTrouble = server.isTrouble;
  server.logFiles.push(suexecLog);
  server.isTrouble = (line) => isApacheTrouble(line) || isSuexecRefusal(line);
  return Object.assign(server, {
    formPath: `/~${ACCOUNT}/cgi-bin/convert.cgi`,
    scriptFilename: `${CGI_FOLDER}/convert.cgi`,
    user,
    credentials: CREDENTIALS,
    suexecLog,
    // The program and its folder, as seen from outside the namespace.
    uploadedProgram: path.join(homeRoot, CGI_FOLDER, 'convert.cgi'),
    uploadFolder: path.join(homeRoot, CGI_FOLDER),
    neighbourPage: { path: `/~${NEIGHBOUR}/`, file: neighbourPageFile },
  });
}
