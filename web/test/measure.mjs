// Measures the built page: its size, the time from opening it to its first
// result (served on loopback, and from disk), a keystroke's conversion in a
// 10 KB expression and a 1 MB paste's conversion in the worker, each the
// median of several runs in headless chromium.
//
//   node web/test/measure.mjs PAGE_FOLDER

import {readdir, stat} from 'node:fs/promises';
import path from 'node:path';
import {pathToFileURL} from 'node:url';

import {LaunchChromium, PageFolder, ServeFolder} from './browser.mjs';

const kRuns = 7;
const kExpression = '(asthma OR wheez*) AND (child* OR adolescen*) NOT adult*';
const kLine = `${kExpression} `;

function Median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Milliseconds from navigation to the page's first shown result.
async function TimeToFirstResult(context, url) {
  const page = await context.newPage();
  await page.goto(`${url}#${encodeURIComponent(kExpression)}`);
  await page.waitForFunction(() => performance.getEntriesByName('boolconv-first-result').length);
  const time =
      await page.evaluate(() => performance.getEntriesByName('boolconv-first-result')[0].startTime);
  await page.close();
  return time;
}

// Milliseconds the input event of one keystroke takes, conversion and
// drawing of the results included, in an expression of `length` characters.
function KeystrokeTime(page, length) {
  return page.evaluate((text) => {
    const input = document.getElementById('expression');
    input.value = text;
    input.dispatchEvent(new InputEvent('input'));
    input.setRangeText(' x', text.length, text.length, 'end');
    const start = performance.now();
    input.dispatchEvent(new InputEvent('input', {inputType: 'insertText', data: ' x'}));
    return performance.now() - start;
  }, kLine.repeat(Math.ceil(length / kLine.length)));
}

// Milliseconds from a paste of `length` characters to the worker's result.
async function WorkerTime(page, length) {
  return page.evaluate(
      (text) => new Promise((resolve) => {
        const input = document.getElementById('expression');
        const operator = document.getElementById('operator');
        const start = performance.now();
        new MutationObserver((changes, observer) => {
          if (operator.getAttribute('aria-busy') === 'false') {
            observer.disconnect();
            resolve(performance.now() - start);
          }
        }).observe(operator, {attributes: true, attributeFilter: ['aria-busy']});
        input.value = text;
        input.dispatchEvent(new InputEvent('input', {inputType: 'insertFromPaste'}));
      }),
      kLine.repeat(Math.ceil(length / kLine.length)));
}

async function Repeat(measure) {
  const values = [];
  for (let run = 0; run < kRuns; ++run) values.push(await measure());
  return Median(values);
}

const folder = PageFolder();
const files = await readdir(folder);
const sizes =
    await Promise.all(files.map(async (file) => (await stat(path.join(folder, file))).size));
const server = await ServeFolder(folder);
const browser = await LaunchChromium();
try {
  const context = await browser.newContext();
  const served = await Repeat(() => TimeToFirstResult(context, server.url));
  const fromDisk =
      await Repeat(() => TimeToFirstResult(context, pathToFileURL(`${folder}/index.html`).href));
  const page = await context.newPage();
  await page.goto(server.url);
  await page.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
  const keystroke = await Repeat(() => KeystrokeTime(page, 10 * 1024));
  const worker = await Repeat(() => WorkerTime(page, 1 << 20));
  // A browser loads one of the two engine builds: the one it chose here.
  const engine = await page.evaluate(() => document.documentElement.dataset.engine);
  const unloaded = engine === 'simd128' ? 'engine.js' : 'engine-simd.js';
  const total = sizes.reduce((sum, size, i) => sum + (files[i] === unloaded ? 0 : size), 0);
  console.log(
      `page size as loaded (${engine} engine): ${total} bytes ` +
      `(${files.map((f, i) => `${f} ${sizes[i]}`).join(', ')})`);
  console.log(
      `first result after opening, median of ${kRuns}: ${served.toFixed(0)} ms served, ` +
      `${fromDisk.toFixed(0)} ms from disk`);
  console.log(`keystroke in a 10 KB expression: ${keystroke.toFixed(1)} ms`);
  console.log(`1 MB paste, converted in the worker: ${worker.toFixed(0)} ms`);
} finally {
  await browser.close();
  await server.close();
}
