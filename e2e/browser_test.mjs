// convert.cgi deployed under a real Apache httpd and driven by headless Chromium:
// the form as a site owner sees it, a conversion, and an error page with its
// return link. Runs as root (Apache drops to www-data for the program).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';

import { SERVER_USER, startApache, userIds } from './lib/apache.mjs';
import {
  STATS_FILE_SIZE,
  capsLines,
  convertedSampleRecord,
  makeFolder,
  makeInstallations,
  plainRecord,
  readTree,
  sampleTrade,
  serverDate,
  summaryLine,
  toplistLine,
} from './lib/installation.mjs';
import { CLOSING, LOADING, added, openErrorWithLink, pageHead, skipping } from './lib/page.mjs';

const repo = path.resolve(import.meta.dirname, '..');
const binary = path.resolve(process.env.CONVERT_CGI ?? path.join(repo, 'build/convert.cgi'));
const artifacts = path.resolve(process.env.E2E_ARTIFACTS ?? path.join(repo, 'build/e2e-artifacts'));
const ownWorkDir = !process.env.E2E_WORK_DIR;
// Outside /root: the server's user must reach every folder on the way.
const workDir = process.env.E2E_WORK_DIR ?? fs.mkdtempSync('/tmp/convert-e2e-');
const cgiDir = path.join(workDir, 'cgi-bin');
const scriptFilename = path.join(cgiDir, 'convert.cgi');

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

let server;
let context;
let formUrl;
let anyFailed = false;
const serverUser = userIds(SERVER_USER);

before(async () => {
  try {
    assert.equal(process.getuid(), 0, 'run as root: Apache must start its children as www-data');
    assert.ok(fs.existsSync(binary), `no program at ${binary}: build it first`);
    makeFolder(workDir);
    fs.chmodSync(workDir, 0o755);
    makeFolder(cgiDir);
    fs.copyFileSync(binary, scriptFilename);
    fs.chmodSync(scriptFilename, 0o755);
    fs.mkdirSync(artifacts, { recursive: true });

    server = await startApache({ serverRoot: path.join(workDir, 'apache'), cgiDir });
    formUrl = `${server.baseUrl}/cgi-bin/convert.cgi`;
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
  try {
    await context?.close();
  } finally {
    if (anyFailed && server) {
      console.log(`--- Apache error log (${server.errorLog}) ---\n${server.errorLogText()}`);
    }
    await server?.stop();
    if (!anyFailed && ownWorkDir) fs.rmSync(workDir, { recursive: true, force: true });
    if (anyFailed) console.log(`test folder kept: ${workDir}`);
  }
});

// Runs one scenario in a fresh tab, keeping a screenshot of where it ended.
function scenario(name, body) {
  test(name, async () => {
    const logBefore = server.errorLogText().length;
    const page = await context.newPage();
    try {
      await body(page);
      assertNoProgramTrouble(server.errorLogText().slice(logBefore));
    } catch (error) {
      anyFailed = true;
      throw error;
    } finally {
      await page
        .screenshot({ path: path.join(artifacts, `${name}-end.png`), fullPage: true })
        .catch((error) => console.log(`no screenshot of ${name}: ${error.message}`));
      await page.close();
    }
  });
}

// Whatever the program writes to stderr, and a response the server could not
// use, is logged by the CGI module.
function assertNoProgramTrouble(errorLog) {
  const complaints = errorLog.split('\n').filter((line) => /\[cgid?:/.test(line));
  assert.deepEqual(complaints, [], 'the server logged trouble with the program');
}

const text = (bytes) => bytes.toString('latin1');

// A response as the server sent it, not the DOM the browser rebuilt from it.
async function rawPage(response, method) {
  assert.equal(response.request().method(), method);
  assert.equal(response.status(), 200);
  assert.match(response.headers()['content-type'], /^text\/html/);
  return text(await response.body());
}

// The form as the browser shows it: posts back to the program, two empty text
// fields and the button, in that order.
async function checkForm(page) {
  assert.equal(await page.title(), 'Tolvane 3 - Kavrel v2 converter');
  const form = page.locator('form');
  assert.equal(await form.count(), 1);
  assert.equal(await form.evaluate((f) => f.action), formUrl);
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

async function openForm(page) {
  const response = await page.goto(formUrl);
  assert.equal(await rawPage(response, 'GET'), pageHead(scriptFilename) + CLOSING);
  await checkForm(page);
}

// Types the two directories, submits, and returns the raw result page once the
// browser has loaded it.
async function submitForm(page, source, target) {
  await openForm(page);
  await page.locator('input[name="tolvane3"]').pressSequentially(source);
  await page.locator('input[name="kavrelv2"]').pressSequentially(target);
  const responded = page.waitForResponse(
    (r) => r.url() === formUrl && r.request().method() === 'POST',
  );
  await page.locator('input[name="submit"]').click();
  const response = await responded;
  await page.waitForLoadState('load');
  // The program takes the fields by position: the browser must post them in
  // form order, with the directories exactly as typed.
  const posted = [...new URLSearchParams(response.request().postData())];
  assert.deepEqual(posted, [
    ['tolvane3', source],
    ['kavrelv2', target],
    ['submit', 'submit'],
  ]);
  return rawPage(response, 'POST');
}

// Compares two file trees byte for byte, naming the first differing byte.
function assertSameTree(actual, expected, label) {
  assert.deepEqual(Object.keys(actual).sort(), Object.keys(expected).sort(), `${label}: files`);
  for (const [name, bytes] of Object.entries(expected)) {
    const got = actual[name];
    if (got.equals(bytes)) continue;
    let at = 0;
    while (at < got.length && at < bytes.length && got[at] === bytes[at]) at++;
    assert.fail(
      `${label}: ${name} differs at byte ${at} (size ${got.length}, expected ${bytes.length}): ` +
        `got ${got.subarray(at, at + 16).toString('hex')}, ` +
        `expected ${bytes.subarray(at, at + 16).toString('hex')}`,
    );
  }
}

function fileInfo(file) {
  const info = fs.statSync(file);
  return { mode: info.mode & 0o7777, uid: info.uid };
}

scenario('page-load', async (page) => {
  await openForm(page);
});

scenario('conversion', async (page) => {
  // A blank and a "+" in the folder name must survive the browser's form encoding.
  const { source, target } = makeInstallations(path.join(workDir, 'site a+b'), {
    sourceTrades: [
      sampleTrade('20', 'known'),
      sampleTrade('8', 'passedover'),
      sampleTrade('12', 'second'),
      sampleTrade('13', 'third'),
    ],
    targetRecords: [plainRecord(5, 'known')],
    owner: serverUser,
  });
  const sourceBefore = readTree(source);
  const targetBefore = readTree(target);

  const dayBefore = serverDate();
  const body = await submitForm(page, source, target);
  const dayAfter = serverDate();
  assert.equal(
    body,
    pageHead(scriptFilename) + LOADING + skipping('known') + added('second') + added('third') + CLOSING,
  );

  const converted = readTree(target);
  const expectedFor = (day) => {
    const note = `added by 127.0.0.1 on ${day}`;
    return {
      ...targetBefore,
      'd/t/i': Buffer.from('12'),
      'd/t/index': Buffer.concat([
        targetBefore['d/t/index'],
        convertedSampleRecord(11, 'second', note),
        convertedSampleRecord(12, 'third', note),
      ]),
      'd/tl.a1': Buffer.concat([
        targetBefore['d/tl.a1'],
        Buffer.from(toplistLine('second') + toplistLine('third')),
      ]),
      'd/caps': Buffer.from(capsLines(11) + capsLines(12)),
      'd/t/sum': Buffer.from(summaryLine(11) + summaryLine(12)),
      'd/t/11': Buffer.alloc(STATS_FILE_SIZE),
      'd/t/12': Buffer.alloc(STATS_FILE_SIZE),
      'd/h/second.his': Buffer.alloc(0),
      'd/h/third.his': Buffer.alloc(0),
    };
  };
  // A run across midnight dates its records with the later day.
  const day =
    dayAfter !== dayBefore && converted['d/t/index']?.equals(expectedFor(dayAfter)['d/t/index'])
      ? dayAfter
      : dayBefore;
  const expected = expectedFor(day);
  assertSameTree(converted, expected, 'target after the conversion');
  assertSameTree(readTree(source), sourceBefore, 'source');
  for (const name of ['d/t/11', 'd/t/12', 'd/h/second.his', 'd/h/third.his']) {
    assert.deepEqual(fileInfo(target + name), { mode: 0o777, uid: serverUser.uid }, name);
  }
  await page.screenshot({ path: path.join(artifacts, 'conversion-result.png'), fullPage: true });

  // Submitting again (a reload, a second click) imports nothing twice.
  const again = await submitForm(page, source, target);
  assert.equal(
    again,
    pageHead(scriptFilename) +
      LOADING +
      skipping('known') +
      skipping('second') +
      skipping('third') +
      CLOSING,
  );
  assertSameTree(readTree(target), expected, 'target after the second submit');
});

scenario('missing-counter', async (page) => {
  const { source, target } = makeInstallations(path.join(workDir, 'no-counter'), {
    sourceTrades: [sampleTrade('20', 'known'), sampleTrade('12', 'first')],
    targetRecords: [plainRecord(5, 'known')],
    targetFiles: { 'd/t/i': null },
    owner: serverUser,
  });
  const targetBefore = readTree(target);
  const body = await submitForm(page, source, target);
  assert.equal(
    body,
    pageHead(scriptFilename) + LOADING + skipping('known') + openErrorWithLink(`${target}d/t/i`),
  );
  assertSameTree(readTree(target), targetBefore, 'target');
  await page.screenshot({ path: path.join(artifacts, 'missing-counter-error.png'), fullPage: true });

  // The return link leads back to an empty form.
  const link = page.getByRole('link', { name: 'click here to return to convert.cgi' });
  const responded = page.waitForResponse((r) => r.url() === formUrl);
  await link.click();
  const response = await responded;
  await page.waitForLoadState('load');
  assert.equal(page.url(), formUrl);
  assert.equal(await rawPage(response, 'GET'), pageHead(scriptFilename) + CLOSING);
  await checkForm(page);
});
