// convert.cgi deployed under the README's five server setups (e2e/lib/servers.mjs),
// driven by headless Chromium, or by plain HTTP where no browser is needed: the form
// as a site owner sees it, a conversion, an error page with its return link, a form
// posted from another site, a request body that comes slowly, a long conversion that
// the browser leaves, one whose page shows its first trade while it runs, and one that
// a signal stops and its "go on" completes; on shared hosting also a neighbour's page
// that posts the form, the password and the uploads that suEXEC refuses. Every
// scenario runs against every server that it is meant for. Runs as root in the
// namespaces of e2e/servers.sh (through scripts/browser_test.sh): the servers run the
// program as www-data, or suEXEC as the account.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { chromium } from 'playwright-core';

import {
  EMPTY_TOPLIST,
  FILE,
  RECORD_SIZE,
  STATS_FILE_SIZE,
  capsLines,
  convertedSampleRecord,
  historyFile,
  makeFolder,
  makeInstallations,
  plainRecord,
  readTree,
  sampleTrade,
  serverDate,
  statsFile,
  summaryLine,
  toplistLine,
} from './lib/installation.mjs';
import {
  CLOSING,
  INCORRECT_FORM_DATA,
  LOADING,
  added,
  openErrorWithLink,
  pageHead,
  skipping,
  stopBlock,
} from './lib/page.mjs';
import {
  BASE_URL,
  SERVER_USER,
  SUEXEC_LOG,
  chosenServers,
  logMark,
  logSince,
  logText,
  readText,
  sleep,
  startServer,
  stopServers,
  userIds,
} from './lib/servers.mjs';

const repo = fileURLToPath(new URL('..', import.meta.url));
const artifacts = path.resolve(process.env.E2E_ARTIFACTS ?? path.join(repo, 'build/e2e-artifacts'));
const ownWorkDir = !process.env.E2E_WORK_DIR;
// Outside /root: the server's user must reach every folder on the way.
const workDir = process.env.E2E_WORK_DIR ?? fs.mkdtempSync('/tmp/convert-e2e-');
// The long conversion creates 1.6 GB of statistics files: on tmpfs it takes
// seconds, and its folder is removed as soon as it has been checked.
const fastDir = process.env.E2E_FAST_DIR ?? '/dev/shm';
const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_FLAGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

let context;
let anyFailed = false;

// Another web site: a page of its own, served to the browser as
// http://localhost:<port>/ (a different site from 127.0.0.1).
let foreignSite;
let foreignPage = '';

before(async () => {
  try {
    assert.equal(process.getuid(), 0, 'run as root: the servers start the program as www-data');
    makeFolder(workDir);
    fs.chmodSync(workDir, 0o755);
    fs.mkdirSync(artifacts, { recursive: true });

    foreignSite = http.createServer((request, response) => {
      response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
      response.end(foreignPage);
    });
    await new Promise((resolve) => foreignSite.listen(0, '127.0.0.1', resolve));
    foreignSite.url = `http://localhost:${foreignSite.address().port}/`;

    context = await chromium.launchPersistentContext(path.join(workDir, 'profile'), {
      executablePath: CHROMIUM,
      headless: true,
      args: CHROMIUM_FLAGS,
      timeout: 60000,
    });
    context.setDefaultTimeout(20000);
  } catch (error) {
    anyFailed = true;
    throw error;
  }
});

after(async () => {
  await context?.close();
  foreignSite?.close();
  if (!anyFailed && ownWorkDir) fs.rmSync(workDir, { recursive: true, force: true });
  if (anyFailed) console.log(`test folder kept: ${workDir}`);
});

const text = (bytes) => bytes.toString('latin1');

// A response as the server sent it, not the DOM the browser rebuilt from it.
async function rawPage(response, method) {
  assert.equal(response.request().method(), method);
  assert.equal(response.status(), 200);
  assert.match(response.headers()['content-type'], /^text\/html/);
  return text(await response.body());
}

// Compares two byte strings, naming the first differing byte rather than
// printing megabytes.
function assertSameBytes(actual, expected, label) {
  const got = Buffer.isBuffer(actual) ? actual : Buffer.from(actual, 'latin1');
  const want = Buffer.isBuffer(expected) ? expected : Buffer.from(expected, 'latin1');
  if (got.equals(want)) return;
  let at = 0;
  while (at < got.length && at < want.length && got[at] === want[at]) at++;
  const near = (bytes) => JSON.stringify(text(bytes.subarray(Math.max(0, at - 8), at + 40)));
  assert.fail(
    `${label} differs at byte ${at} (size ${got.length}, expected ${want.length}): ` +
      `got ${near(got)}, expected ${near(want)}`,
  );
}

// Compares two file trees byte for byte.
function assertSameTree(actual, expected, label) {
  assert.deepEqual(Object.keys(actual).sort(), Object.keys(expected).sort(), `${label}: files`);
  for (const [name, bytes] of Object.entries(expected)) {
    assertSameBytes(actual[name], bytes, `${label}: ${name}`);
  }
}

function fileInfo(file) {
  const info = fs.statSync(file);
  return { mode: info.mode & 0o7777, uid: info.uid };
}

const addedByNote = (day) => `added by 127.0.0.1 on ${day}`;

// Runs `convert` and returns its result and the days it may have dated the
// records with: a run across midnight dates its later records with the next day.
async function dated(convert) {
  const dayBefore = serverDate();
  const result = await convert();
  return { result, days: [...new Set([dayBefore, serverDate()])] };
}

// The form as the browser shows it: posts back to the program, two empty text
// fields and the button, in that order.
async function checkForm(page, site) {
  assert.equal(await page.title(), 'Tolvane 3 - Kavrel v2 converter');
  const form = page.locator('form');
  assert.equal(await form.count(), 1);
  assert.equal(await form.evaluate((f) => f.action), site.formUrl);
  assert.equal(await form.evaluate((f) => f.method), 'post');
  const controls = await form.evaluate((f) =>
    [...f.elements].map((e) => ({ name: e.name, type: e.type, value: e.value })),
  );
  assert.deepEqual(controls, [
    { name: 'tolvane3', type: 'text', value: '' },
    { name: 'kavrelv2', type: 'text', value: '' },
    { name: 'submit', type: 'submit', value: 'submit' },
  ]);
  for (const name of ['tolvane3', 'kavrelv2', 'submit']) {
    assert.ok(await page.locator(`input[name="${name}"]`).isVisible(), `${name} is visible`);
  }
}

async function openForm(page, site) {
  const response = await page.goto(site.formUrl);
  assert.equal(await rawPage(response, 'GET'), pageHead(site.scriptFilename) + CLOSING);
  await checkForm(page, site);
}

const isFormPost = (site) => (request) => request.url() === site.formUrl && request.method() === 'POST';

// The response to the form's post; fails with the browser's error when there
// was none (a connection the server broke, say).
function formResponse(page, site) {
  const failed = page
    .waitForEvent('requestfailed', { predicate: isFormPost(site) })
    .then((request) => assert.fail(`no page for the form post: ${request.failure()?.errorText}`));
  failed.catch(() => {}); // the response came first
  return Promise.race([page.waitForResponse((r) => isFormPost(site)(r.request())), failed]);
}

async function typeDirectories(page, site, source, target) {
  await openForm(page, site);
  await page.locator('input[name="tolvane3"]').pressSequentially(source);
  await page.locator('input[name="kavrelv2"]').pressSequentially(target);
}

// Types the two directories, submits, and returns the raw result page once the
// browser has loaded it.
async function submitForm(page, site, source, target) {
  await typeDirectories(page, site, source, target);
  const responded = formResponse(page, site);
  await page.locator('input[name="submit"]').click();
  const response = await responded;
  await page.waitForLoadState('load');
  // The program takes the fields by position: the browser must post them in
  // form order, with the directories exactly as typed.
  const posted = (data) => [...new URLSearchParams(data)];
  assert.deepEqual(posted(response.request().postData()), posted(formBody(source, target)));
  return rawPage(response, 'POST');
}

// A source of four trades against a target that holds the first: the second
// and the third are imported, the 8 is passed over.
function threeTradeCase(dir, site) {
  const installations = makeInstallations(dir, {
    sourceTrades: [
      sampleTrade('20', 'known'),
      sampleTrade('8', 'passedover'),
      sampleTrade('12', 'second'),
      sampleTrade('13', 'third'),
    ],
    targetRecords: [plainRecord(5, 'known')],
    owner: site.user,
  });
  const { source, target } = installations;
  const sourceBefore = readTree(source);
  const targetBefore = readTree(target);
  const expectedFor = (day) => ({
    ...targetBefore,
    [FILE.counter]: Buffer.from('12'),
    [FILE.index]: Buffer.concat([
      targetBefore[FILE.index],
      convertedSampleRecord(11, 'second', addedByNote(day)),
      convertedSampleRecord(12, 'third', addedByNote(day)),
    ]),
    [FILE.toplist]: Buffer.concat([
      targetBefore[FILE.toplist],
      Buffer.from(toplistLine('second') + toplistLine('third')),
    ]),
    [FILE.caps]: Buffer.from(capsLines(11) + capsLines(12)),
    [FILE.summary]: Buffer.from(summaryLine(11) + summaryLine(12)),
    [statsFile(11)]: Buffer.alloc(STATS_FILE_SIZE),
    [statsFile(12)]: Buffer.alloc(STATS_FILE_SIZE),
    [historyFile('second')]: Buffer.alloc(0),
    [historyFile('third')]: Buffer.alloc(0),
  });
  return {
    ...installations,
    sourceBefore,
    targetBefore,
    page:
      pageHead(site.scriptFilename) +
      LOADING +
      skipping('known') +
      added('second') +
      added('third') +
      CLOSING,
    // The target as the conversion leaves it, dated with one of `days`.
    expectedTarget(converted, days) {
      const day = days.find((d) => converted[FILE.index]?.equals(expectedFor(d)[FILE.index]));
      return expectedFor(day ?? days[0]);
    },
  };
}

// Submits the form of `site` for the installations of threeTradeCase and checks the page
// and the target; returns the target as expected.
async function convertsByForm(page, site, trades) {
  const { result: body, days } = await dated(() => submitForm(page, site, trades.source, trades.target));
  assert.equal(body, trades.page);
  const converted = readTree(trades.target);
  const expected = trades.expectedTarget(converted, days);
  assertSameTree(converted, expected, 'target after the own form');
  return expected;
}

// A page of someone else's that posts the form of `site` with the two
// directories, under the referrer policy `referrerPolicy` when given.
function postingPage(title, site, source, target, referrerPolicy = null) {
  const attr = (value) => value.replaceAll('&', '&amp;').replaceAll('"', '&quot;');
  const policy = referrerPolicy ? `<meta name="referrer" content="${referrerPolicy}">` : '';
  return (
    `<!DOCTYPE html><title>${title}</title>${policy}` +
    `<form action="${attr(site.formUrl)}" method="post">` +
    `<input name="tolvane3" value="${attr(source)}">` +
    `<input name="kavrelv2" value="${attr(target)}">` +
    '<input type="submit" name="submit" value="submit"></form>'
  );
}

// Opens the page at `url`, submits its form to the program of `site`, checks
// that the program refused it, and returns the headers of the post.
async function postRefused(page, site, url) {
  await page.goto(url);
  const responded = formResponse(page, site);
  await page.locator('input[name="submit"]').click();
  const response = await responded;
  await page.waitForLoadState('load');
  assert.equal(await rawPage(response, 'POST'), pageHead(site.scriptFilename) + INCORRECT_FORM_DATA);
  return response.request().allHeaders();
}

// The scenarios. Each runs in a fresh tab against one server; `site` holds the
// server and its form's address, and a folder for the scenario's installations.
const SCENARIOS = [
  {
    name: 'page-load',
    async run(page, site) {
      await openForm(page, site);
    },
  },

  {
    name: 'conversion',
    async run(page, site) {
      // A blank and a "+" in the folder name must survive the browser's form encoding.
      const trades = threeTradeCase(path.join(site.dataDir, 'site a+b'), site);
      const { source, target } = trades;
      const expected = await convertsByForm(page, site, trades);
      assertSameTree(readTree(source), trades.sourceBefore, 'source');
      for (const name of [statsFile(11), statsFile(12), historyFile('second'), historyFile('third')]) {
        assert.deepEqual(fileInfo(target + name), { mode: 0o777, uid: site.user.uid }, name);
      }
      await page.screenshot({ path: path.join(artifacts, `${site.name}-conversion-result.png`) });

      // Submitting again (a reload, a second click) imports nothing twice.
      const again = await submitForm(page, site, source, target);
      assert.equal(
        again,
        pageHead(site.scriptFilename) +
          LOADING +
          skipping('known') +
          skipping('second') +
          skipping('third') +
          CLOSING,
      );
      assertSameTree(readTree(target), expected, 'target after the second submit');
    },
  },

  {
    // Plain HTTP: the error block names the missing counter, nothing is written, and
    // its return link leads back to the empty form.
    name: 'missing-counter',
    http: true,
    async run(site) {
      const { source, target } = makeInstallations(path.join(site.dataDir, 'no-counter'), {
        sourceTrades: [sampleTrade('20', 'known'), sampleTrade('12', 'first')],
        targetRecords: [plainRecord(5, 'known')],
        targetFiles: { [FILE.counter]: null },
        owner: site.user,
      });
      const targetBefore = readTree(target);
      const head = pageHead(site.scriptFilename);
      const expected = head + LOADING + skipping('known') + openErrorWithLink(target + FILE.counter);
      assert.deepEqual(await httpPage(site, site.formUrl, formBody(source, target)), [200, expected]);
      assertSameTree(readTree(target), targetBefore, 'target');
      const back = new URL('convert.cgi', site.formUrl).href;
      assert.equal(back, site.formUrl);
      assert.deepEqual(await httpPage(site, back), [200, head + CLOSING]);
    },
  },

  {
    // A page of another site that posts the form to the program: the browser
    // marks the post as cross-site, and the program refuses it. Its own form
    // still converts the same installations.
    name: 'cross-site-form',
    async run(page, site) {
      const trades = threeTradeCase(path.join(site.dataDir, 'cross-site'), site);
      const { source, target } = trades;
      foreignPage = postingPage('another site', site, source, target);
      const headers = await postRefused(page, site, foreignSite.url);
      assert.equal(headers['sec-fetch-site'], 'cross-site');
      assertSameTree(readTree(target), trades.targetBefore, 'target after the post from another site');

      await convertsByForm(page, site, trades);
    },
  },

  {
    // On a host that serves accounts as /~user/, a neighbour's page has the
    // form's own origin, and the browser marks its post of the owner's form
    // same-origin. Whatever referrer policy the page sets, the program refuses
    // the post: the Referer names the neighbour's page, or the page's origin
    // only, or there is none and the Origin is "null". The owner's own form
    // still converts the same installations.
    name: 'neighbour-form',
    forServer: (kind) => kind.sharedHosting,
    async run(page, site, t) {
      const trades = threeTradeCase(path.join(site.dataDir, 'neighbour'), site);
      const { source, target } = trades;
      const neighbour = site.neighbourPage;
      const url = `${BASE_URL}${neighbour.path}`;
      for (const policy of [null, 'no-referrer', 'origin']) {
        fs.writeFileSync(neighbour.file, postingPage("a neighbour's page", site, source, target, policy));
        fs.chmodSync(neighbour.file, 0o644);
        const headers = await postRefused(page, site, url);
        t.diagnostic(
          `referrer policy ${policy ?? 'default'}: Sec-Fetch-Site ${headers['sec-fetch-site']}, ` +
            `Origin ${headers.origin}, Referer ${headers.referer}`,
        );
        assert.equal(headers['sec-fetch-site'], 'same-origin');
        const label = `target after the neighbour's post (${policy})`;
        assertSameTree(readTree(target), trades.targetBefore, label);
      }

      await convertsByForm(page, site, trades);
    },
  },

  {
    // A client that sends the body in pieces over about three seconds gets the
    // page a browser gets.
    name: 'slow-body',
    http: true,
    forServer: (kind) => kind.usual,
    async run(site) {
      const trades = threeTradeCase(path.join(site.dataDir, 'slow body'), site);
      const { source, target } = trades;
      const pieces = 7;
      const started = Date.now();
      const { result: response, days } = await dated(() =>
        postSlowly(site, formBody(source, target), pieces, 3000 / (pieces - 1)),
      );
      const elapsed = Date.now() - started;
      assert.ok(elapsed >= 2900, `the body took ${elapsed} ms to send`);
      assert.equal(response.status, 200);
      assert.match(response.headers['content-type'], /^text\/html/);
      assert.equal(response.body, trades.page);
      const converted = readTree(target);
      assertSameTree(converted, trades.expectedTarget(converted, days), 'target after the slow post');
    },
  },

  {
    // The browser leaves as soon as the first trade of a long conversion is
    // reported. Whatever the server then does to the program, the target holds
    // whole trades only, and a second submit completes the conversion.
    name: 'leave-mid-run',
    forServer: (kind) => kind.usual,
    checksLog: false, // the server logs the client that went away
    async run(page, site, t) {
      await withLongRun(site, async ({ source, target, keys }) => {
        const first = await untilFirstTrade(page, site, source, target);
        const { response, dayBefore, shownAt, atShow } = first;
        const encoding = response.headers()['content-encoding'] ?? 'none';
        await page.close();
        const endedAt = await waitUntilRunEnded(site, target);
        const days = [...new Set([dayBefore, serverDate()])];
        const imported = assertWholeTrades(target, keys, days);
        t.diagnostic(
          `${site.name}: page encoding ${encoding}; ${atShow} trades in when the first line showed ` +
            `and the page closed; the program ended ${((endedAt - shownAt) / 1000).toFixed(1)} s later ` +
            `with ${imported} of ${keys.length} trades in: ` +
            (imported === keys.length ? 'it ran to the end' : 'it stopped between two trades'),
        );

        const again = await context.newPage();
        try {
          const { result: body, days: laterDays } = await dated(() =>
            submitForm(again, site, source, target),
          );
          assertSameBytes(body, resumedPage(site, keys, imported), 'page of the second submit');
          assert.equal(assertWholeTrades(target, keys, [...days, ...laterDays]), keys.length);
        } finally {
          await again.close();
        }
      });
    },
  },

  {
    // Debian's Apache compresses HTML with mod_deflate, which holds the page back
    // until the run ends; the program's lines (SetEnv no-gzip) keep it off, so the
    // browser, which asks for gzip, shows the first trade while the run goes on.
    name: 'progressive-page',
    forServer: (kind) => kind.deflates,
    async run(page, site, t) {
      await withLongRun(site, async ({ source, target, keys }) => {
        const first = await untilFirstTrade(page, site, source, target);
        const { response, dayBefore, shownAt, atShow } = first;
        assert.match((await response.request().allHeaders())['accept-encoding'] ?? '', /gzip/);
        assert.equal(response.headers()['content-encoding'], undefined, 'the page was compressed');
        const body = await rawPage(response, 'POST'); // once the page has ended
        const endedAt = Date.now();
        await page.close(); // a full-page screenshot of 20,000 lines takes long
        t.diagnostic(
          `${site.name}: the first line showed with ${atShow} of ${keys.length} trades in, ` +
            `${((endedAt - shownAt) / 1000).toFixed(1)} s before the page ended`,
        );
        assert.ok(atShow < keys.length, 'the first line showed only once every trade was in');
        assertSameBytes(
          body,
          pageHead(site.scriptFilename) + LOADING + keys.map(added).join('') + CLOSING,
          'page',
        );
        const days = [...new Set([dayBefore, serverDate()])];
        assert.equal(assertWholeTrades(target, keys, days), keys.length);
      });
    },
  },

  {
    // The host stops a long run with SIGTERM (as a time limit would): the page
    // ends with the stop block under the last whole trade, and its "go on",
    // which posts the same folders, completes the conversion. The folders'
    // names hold characters that the block must escape.
    name: 'stop-and-go-on',
    async run(page, site, t) {
      await withLongRun(
        site,
        async ({ source, target, keys }) => {
          const dayBefore = serverDate();
          await typeDirectories(page, site, source, target);
          const responded = formResponse(page, site);
          // The signal goes once the target holds a trade, not once the page
          // shows one: lighttpd passes the page on only when the program has
          // ended. Nor is the click awaited first: it may wait for the page.
          const clicked = page.locator('input[name="submit"]').click();
          clicked.catch(() => {}); // awaited below, unless a check fails first
          const start = Date.now();
          while (fs.statSync(target + FILE.index).size === 0) {
            assert.ok(Date.now() - start < 60000, 'no trade in after a minute');
            await sleep(20);
          }
          const pids = programPids(site.programFile);
          assert.equal(pids.length, 1, `copies of the program running: ${pids}`);
          process.kill(pids[0], 'SIGTERM');
          const atSignal = fs.statSync(target + FILE.index).size / RECORD_SIZE;
          await clicked;
          const body = await rawPage(await responded, 'POST');
          const days = [...new Set([dayBefore, serverDate()])];
          const imported = assertWholeTrades(target, keys, days);
          t.diagnostic(
            `${site.name}: SIGTERM with ${atSignal} trades in; ` +
              `the run stopped with ${imported} of ${keys.length}`,
          );
          assert.ok(imported < keys.length, 'the run had ended before the signal');
          assertSameBytes(
            body,
            pageHead(site.scriptFilename) +
              LOADING +
              keys.slice(0, imported).map(added).join('') +
              stopBlock(source, target),
            'page of the stopped run',
          );
          const goOn = page.getByRole('button', { name: 'go on' });
          await goOn.scrollIntoViewIfNeeded();
          await page.screenshot({ path: path.join(artifacts, `${site.name}-stopped.png`) });

          const goneOn = formResponse(page, site);
          await goOn.click();
          const again = await goneOn;
          assert.deepEqual(
            [...new URLSearchParams(again.request().postData())],
            [
              ['tolvane3', source],
              ['kavrelv2', target],
              ['submit', 'go on'],
            ],
          );
          const laterDays = [...new Set([...days, serverDate()])];
          const resumed = resumedPage(site, keys, imported);
          assertSameBytes(await rawPage(again, 'POST'), resumed, 'page after "go on"');
          await page.close(); // a full-page screenshot of 20,000 lines takes long
          assert.equal(assertWholeTrades(target, keys, laterDays), keys.length);
        },
        'convert-e2e-stop "&" \'',
      );
    },
  },

  {
    // Without the password of the .htaccess, or with a wrong one, the server
    // answers 401 and suEXEC starts no program.
    name: 'password-required',
    http: true,
    forServer: (kind) => kind.sharedHosting,
    checksLog: false, // Apache logs the wrong password
    async run(site) {
      const started = readText(SUEXEC_LOG);
      const { username } = site.credentials;
      for (const authorization of [null, basicAuthorization({ username, password: 'guess' })]) {
        const response = await fetch(site.formUrl, { headers: authorization ? { authorization } : {} });
        assert.equal(response.status, 401, `with ${authorization ? 'a wrong' : 'no'} password`);
        assert.equal(response.headers.get('www-authenticate'), 'Basic realm="convert.cgi"');
        assert.doesNotMatch(await response.text(), /convert\.cgi<\/span>/);
      }
      assert.equal(readText(SUEXEC_LOG), started, 'suEXEC started the program');
    },
  },

  {
    // Uploads that suEXEC refuses to run: the site owner gets "500 Internal
    // Server Error" and the reason is only in suEXEC's own log (that the README
    // quotes it, scripts/readme_check.sh checks). Put right, the upload runs again.
    name: 'upload-refused',
    http: true,
    forServer: (kind) => kind.sharedHosting,
    checksLog: false, // the refusals are logged
    async run(site, t) {
      const program = site.programFile;
      const www = userIds(SERVER_USER);
      const cases = [
        ['convert.cgi with mode 775', 'file is writable by others', () => fs.chmodSync(program, 0o775)],
        [
          'the cgi-bin folder with mode 777',
          'directory is writable by others',
          () => fs.chmodSync(path.dirname(program), 0o777),
        ],
        ['convert.cgi given to www-data', 'mismatch with directory', () => fs.chownSync(program, www.uid, www.gid)],
      ];
      for (const [upload, reason, make] of cases) {
        const logged = readText(SUEXEC_LOG).length;
        make();
        try {
          assert.equal((await httpPage(site, site.formUrl))[0], 500, upload);
        } finally {
          fs.chmodSync(program, 0o755);
          fs.chmodSync(path.dirname(program), 0o755);
          fs.chownSync(program, site.user.uid, site.user.gid);
        }
        const refusal = readText(SUEXEC_LOG).slice(logged).trim().split('\n').pop();
        t.diagnostic(`${upload}: suexec.log: ${refusal}`);
        assert.ok(refusal.includes(reason), `${upload}: suexec.log says ${JSON.stringify(refusal)}`);
        assert.deepEqual(await httpPage(site, site.formUrl), [200, pageHead(site.scriptFilename) + CLOSING]);
      }
    },
  },
];

// Runs `check` on a source of 20,000 new trades and an empty target, on tmpfs
// in a folder whose name starts with `prefix`, and removes them afterwards
// (after a failed check, once the program has ended).
async function withLongRun(site, check, prefix = 'convert-e2e-long-') {
  const keys = Array.from({ length: 20000 }, (_, i) => `trade${i}`);
  const dir = fs.mkdtempSync(path.join(fastDir, prefix));
  fs.chmodSync(dir, 0o755);
  try {
    const { source, target } = makeInstallations(dir, {
      sourceTrades: keys.map((key) => sampleTrade('20', key)),
      owner: site.user,
    });
    try {
      await check({ source, target, keys });
    } catch (error) {
      await waitUntilRunEnded(site, target).catch(() => {});
      throw error;
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// The page of a run over the target that a run of `keys` left with `imported` of them in.
const resumedPage = (site, keys, imported) =>
  pageHead(site.scriptFilename) +
  LOADING +
  keys.slice(0, imported).map(skipping).join('') +
  keys.slice(imported).map(added).join('') +
  CLOSING;

// Submits the long run's form and waits until the page shows its first trade:
// the response, the server's day before the submit, and when the line showed
// with how many trades in.
async function untilFirstTrade(page, site, source, target) {
  const dayBefore = serverDate();
  await typeDirectories(page, site, source, target);
  const responded = formResponse(page, site);
  await page.locator('input[name="submit"]').click();
  const response = await responded;
  await page.getByText('added trade0', { exact: false }).first().waitFor();
  const atShow = fs.statSync(target + FILE.index).size / RECORD_SIZE;
  return { response, dayBefore, shownAt: Date.now(), atShow };
}

const basicAuthorization = ({ username, password }) =>
  `Basic ${Buffer.from(`${username}:${password}`).toString('base64')}`;
const authHeaders = (site) => (site.credentials ? { authorization: basicAuthorization(site.credentials) } : {});

// The form's body as a browser posts it.
const formBody = (source, target) =>
  new URLSearchParams([
    ['tolvane3', source],
    ['kavrelv2', target],
    ['submit', 'submit'],
  ]).toString();

// Status and page (latin1) of a plain GET of `url`, or a POST of the form body `body`.
async function httpPage(site, url, body) {
  const headers = { ...authHeaders(site), 'content-type': 'application/x-www-form-urlencoded' };
  const response = await fetch(url, body === undefined ? { headers } : { method: 'POST', headers, body });
  return [response.status, text(Buffer.from(await response.arrayBuffer()))];
}

// Sends the form with the body cut into `pieces` parts, `gapMs` apart, and
// returns status, headers and the body (decoded from chunks, as latin1).
function postSlowly(site, body, pieces, gapMs) {
  return new Promise((resolve, reject) => {
    const request = http.request(site.formUrl, {
      method: 'POST',
      headers: {
        ...authHeaders(site),
        'content-type': 'application/x-www-form-urlencoded',
        'content-length': Buffer.byteLength(body),
      },
    });
    request.on('error', reject);
    request.on('response', (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('error', reject);
      response.on('end', () =>
        resolve({
          status: response.statusCode,
          headers: response.headers,
          body: text(Buffer.concat(chunks)),
        }),
      );
    });
    const size = Math.ceil(body.length / pieces);
    (async () => {
      for (let at = 0; at < body.length; at += size) {
        if (at > 0) await sleep(gapMs);
        request.write(body.slice(at, at + size));
      }
      request.end();
    })().catch(reject);
  });
}

// The processes that run the program file `file`, under any user and in any
// mount namespace (the shared host's sees the file under another path).
function programPids(file) {
  const { dev, ino } = fs.statSync(file);
  return fs.readdirSync('/proc').filter((entry) => {
    if (!/^\d+$/.test(entry)) return false;
    try {
      const exe = fs.statSync(`/proc/${entry}/exe`);
      return exe.dev === dev && exe.ino === ino;
    } catch {
      return false; // gone meanwhile, or a kernel thread
    }
  }).map(Number);
}

// Polls the target until no program runs and the index, the summary and the
// counter have not changed for a second; returns when that began. Gives up
// after two minutes.
async function waitUntilRunEnded(site, target) {
  const state = () =>
    [FILE.index, FILE.summary, FILE.counter].map((name) => fs.statSync(target + name).size).join() +
    fs.readFileSync(target + FILE.counter, 'latin1');
  const start = Date.now();
  let last = state();
  let still = Date.now();
  for (;;) {
    await sleep(100);
    const now = state();
    if (now !== last) {
      last = now;
      still = Date.now();
    } else if (Date.now() - still >= 1000 && programPids(site.programFile).length === 0) {
      return still;
    }
    assert.ok(Date.now() - start < 120000, 'the program was still running after two minutes');
  }
}

// Checks that the target, which started empty with the counter at 10, holds
// the first trades of `keys` whole and nothing else: a record each in the index,
// dated with one of `days`, its toplist, caps and summary lines, its statistics
// and history files, and the counter at the last id issued. Returns how many.
function assertWholeTrades(target, keys, days) {
  const index = fs.readFileSync(target + FILE.index);
  assert.equal(index.length % RECORD_SIZE, 0, `the index (${index.length} bytes) holds whole records`);
  const count = index.length / RECORD_SIZE;
  assert.ok(count <= keys.length, `${count} records for ${keys.length} trades`);
  const imported = keys.slice(0, count);
  const ids = imported.map((_, i) => 11 + i);
  imported.forEach((key, i) => {
    const record = index.subarray(i * RECORD_SIZE, (i + 1) * RECORD_SIZE);
    const dated = days.map((day) => convertedSampleRecord(ids[i], key, addedByNote(day)));
    if (!dated.some((expected) => record.equals(expected)))
      assertSameBytes(record, dated[0], `record ${i}`);
  });
  const read = (name) => fs.readFileSync(target + name, 'latin1');
  assert.equal(read(FILE.counter), String(10 + count), 'the counter');
  assertSameBytes(read(FILE.toplist), EMPTY_TOPLIST + imported.map(toplistLine).join(''), FILE.toplist);
  assertSameBytes(read(FILE.caps), ids.map(capsLines).join(''), FILE.caps);
  assertSameBytes(read(FILE.summary), ids.map(summaryLine).join(''), FILE.summary);
  // Every file of the folder, by its name in the installation.
  const listed = (folder) => fs.readdirSync(target + folder).map((name) => `${folder}/${name}`).sort();
  const files = [FILE.index, FILE.counter, FILE.summary, ...ids.map(statsFile)];
  assert.deepEqual(listed(FILE.tradeFolder), files.sort(), `files in ${FILE.tradeFolder}`);
  assert.deepEqual(listed(FILE.historyFolder), imported.map(historyFile).sort(), FILE.historyFolder);
  const size = (name) => fs.statSync(target + name).size;
  for (const name of ids.map(statsFile)) assert.equal(size(name), STATS_FILE_SIZE, name);
  for (const name of imported.map(historyFile)) assert.equal(size(name), 0, name);
  return count;
}

for (const kind of chosenServers()) {
  describe(kind.title, () => {
    let site;
    before(async () => {
      try {
        site = { ...startServer(kind), dataDir: path.join(workDir, 'data', kind.name) };
        await context.setExtraHTTPHeaders(authHeaders(site));
      } catch (error) {
        anyFailed = true;
        throw error;
      }
    });
    after(() => {
      if (anyFailed && site) console.log(logText(site));
      stopServers();
    });

    for (const scenario of SCENARIOS) {
      if (scenario.forServer && !scenario.forServer(kind)) continue;
      test(scenario.name, { timeout: 180000 }, async (t) => {
        const mark = logMark(site);
        // The scenarios that need no browser get no tab.
        const page = scenario.http ? null : await context.newPage();
        try {
          await (page ? scenario.run(page, site, t) : scenario.run(site, t));
          const logged = logSince(site, mark);
          if (scenario.checksLog !== false) {
            assert.deepEqual(logged.filter(site.isTrouble), [], 'the server logged trouble with the program');
          } else {
            for (const line of logged) t.diagnostic(`${kind.name} log: ${line}`);
          }
        } catch (error) {
          anyFailed = true;
          throw error;
        } finally {
          if (page && !page.isClosed()) {
            await page
              .screenshot({
                path: path.join(artifacts, `${kind.name}-${scenario.name}-end.png`),
                fullPage: true,
              })
              .catch((error) => console.log(`no screenshot of ${scenario.name}: ${error.message}`));
            await page.close();
          }
        }
      });
    }
  });
}
