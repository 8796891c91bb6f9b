// The page convert.cgi sends, as the browser receives it: the server has taken
// the CGI header off and sends the rest unchanged. The texts are the golden
// files that the C++ tests use too (testing/golden/, see its README.md).
import fs from 'node:fs';

const goldenDir = new URL('../../testing/golden/', import.meta.url);

// The golden file `name`, byte for byte.
export const goldenText = (name) => fs.readFileSync(new URL(name, goldenDir), 'latin1');

// The lines of the golden table `name` as arrays of words, comment lines left out.
export const goldenTable = (name) => goldenText(name).match(/^[^#\n].*/gm).map((line) => line.split(' '));

// `text` with every @NAME@ replaced by values[NAME].
export const fillIn = (text, values) =>
  Object.entries(values).reduce((t, [name, value]) => t.replaceAll(`@${name}@`, () => value), text);

const head = goldenText('page_head.txt');
export const pageHead = (scriptFilename) =>
  fillIn(head.slice(head.indexOf('\r\n\r\n') + 4), { SCRIPT: scriptFilename });

export const LOADING = goldenText('loading_line.txt');
export const CLOSING = goldenText('closing_block.txt');
export const INCORRECT_FORM_DATA = goldenText('incorrect_form_data.txt');
export const skipping = (key) => fillIn(goldenText('skipping_line.txt'), { KEY: key });
export const added = (key) => fillIn(goldenText('added_line.txt'), { KEY: key });

// `value` as the page shows it in text and in attributes.
const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
const escaped = (value) => value.replace(/[&<>"']/g, (c) => ESCAPES[c]);

// The end of the page of a run that a signal stopped: its form posts the two
// folders again.
export const stopBlock = (source, target) =>
  fillIn(goldenText('stop_block.txt'), { SOURCE: escaped(source), TARGET: escaped(target) });

// "openFailed Unable to open file": the lead of each kind of error block.
const leads = Object.fromEntries(goldenTable('error_leads.txt').map(([n, ...text]) => [n, text.join(' ')]));

// The error block for a file that will not open, with the return link that
// steps inside the trade loop show.
const advice = Object.fromEntries(goldenTable('error_advice.txt').map(([n, ...text]) => [n, text.join(' ')]));
export const openErrorWithLink = (file) =>
  fillIn(goldenText('error_block.txt'), { ADVICE: advice.files, LEAD: leads.openFailed, PATH: file, LINK: 'convert.cgi' });
