// Browser test of the built page: drives it in headless chromium as a user
// would, by keyboard, mouse and clipboard, and checks what it shows against
// boolconv-cli run on the same text.
//
//   BOOLCONV_WEB_PAGE=build-web/web-dist BOOLCONV_CLI=build/cli/boolconv-cli \
//     node web/test/page_test.mjs
//
// Exits 77 (skipped) only when chromium cannot start, and never when CI is set.

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {after, before, describe, test} from 'node:test';
import {pathToFileURL} from 'node:url';

import {kChromium, LaunchChromium, PageFolder, ServeFolder} from './browser.mjs';

const kSkipped = 77;
const kCli = process.env.BOOLCONV_CLI;
// Longer inputs than this convert in the page's worker (app.js).
const kWorkerThreshold = 64 * 1024;
const kLargeInputLength = 1 << 20;
// The page lists this many diagnostics and counts the rest (app.js).
const kMaxListedDiagnostics = 200;
// The structure panel draws this many parts, this many levels deep (app.js).
const kMaxStructureParts = 200;
const kMaxStructureDepth = 16;
const kFrameInputLength = 10 * 1024;
// A strategy line as searchers write them, repeated to make long inputs.
const kStrategyLine =
    '(asthma OR wheez* OR "bronchial spasm") AND (child* OR adolescen*) NOT adult* ';
// The strictest content policy the page runs under, worker included: scripts
// from its own origin, WebAssembly compiled from them, a worker from a blob.
const kStrictPolicy = `default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; worker-src blob:`;

// boolconv-cli's JSON object for `expression`, with the page's options: every
// diagnostic (--check), the tidy step when `tidy`. A multi-line expression is
// read whole. Either way the tool takes a final line break for the end of
// its input, so one is added.
function CliResult(expression, tidy) {
  const args = [
    '--json', '--check', ...(tidy ? ['--tidy'] : []),
    ...(/[\r\n]/.test(expression) ? ['--whole'] : [])
  ];
  const run = spawnSync(kCli, args, {input: `${expression}\n`, maxBuffer: 1 << 28});
  const lines = run.stdout.toString('utf8').split('\n').filter(Boolean);
  assert.equal(lines.length, 1, `boolconv-cli ${args.join(' ')}: ${run.stderr}`);
  return JSON.parse(lines[0]);
}

// What the page shows, in the shape of boolconv-cli's JSON object, with the
// text each diagnostic's highlights cover.
function ReadPage(page) {
  return page.evaluate(() => {
    const $ = (id) => document.getElementById(id);
    const error = document.querySelector('#error .message');
    const shown =
        error ? {error: error.textContent} : {operator: $('operator').value, sign: $('sign').value};
    // The converter's warnings, in a fold wherever it stands.
    shown.warnings =
        [...document.querySelectorAll('.prompts p:not(.dropped)')].map((p) => p.textContent);
    // Past the engine's budget the page says how many more warnings there were.
    const dropped = document.querySelector('.prompts p.dropped');
    if (dropped) shown.warnings_dropped = Number.parseInt(dropped.textContent, 10);
    const marks = [...document.querySelectorAll('#backdrop mark')];
    shown.diagnostics = [...document.querySelectorAll('#diagnostics button')].map(
        (button, i) => ({
          code: button.querySelector('.code').textContent.slice(1, -1),
          severity: button.querySelector('.severity').textContent,
          message: button.querySelector('.message').textContent,
          highlighted:
              marks.filter((mark) => mark.dataset.diagnostics.split(' ').includes(String(i)))
                  .map((mark) => mark.textContent.replaceAll('\u2060', ''))
                  .join(''),
        }));
    return shown;
  });
}

// The page's result must be boolconv-cli's, and each diagnostic highlighted
// over exactly its span (given in code points).
function AssertSameAsCli(shown, expression, tidy) {
  const expected = CliResult(expression, tidy);
  AssertSameResult(shown, expected, expression);
}

// `shown` must be `expected`, a result of boolconv-cli, whose diagnostics
// point into `expression`. Where the tool notes that a text looks like a
// search history, the page offers its history switch instead.
function AssertSameResult(shown, expected, expression) {
  const codePoints = [...expression];
  assert.deepEqual(
      shown.diagnostics,
      expected.diagnostics.filter((d) => d.code !== 'history-detected')
          .map((d) => ({
                 code: d.code,
                 severity: d.severity,
                 message: d.message,
                 highlighted: codePoints.slice(d.start, d.end).join(''),
               })));
  delete shown.diagnostics;
  delete expected.diagnostics;
  assert.deepEqual(shown, expected);
}

// The note over a result that an unconverted expression has left standing.
const kStaleNote = /^Out of date: .*Copy is off/;

// Checks each output as the user finds it against `expected`, one
// {text, stale, note, copy} for each: its text, whether it is marked as out
// of date, the note shown above it (matching a RegExp; null for none), which
// must describe the output and its button alike, and whether its Copy button
// can be used.
async function AssertOutputs(page, expected) {
  const shown = await page.evaluate(() => ['operator', 'sign'].map((id) => {
    const output = document.getElementById(id);
    const note = document.getElementById(`${id}-note`);
    const button = document.querySelector(`button[data-copies="${id}"]`);
    return {
      text: output.value,
      stale: output.classList.contains('stale'),
      note: note.checkVisibility() ? note.textContent : null,
      described:
          [output, button].every((element) => element.getAttribute('aria-describedby') === note.id),
      copy: !button.disabled,
    };
  }));
  for (const [i, {note, ...rest}] of expected.entries()) {
    const {note: shownNote, described, ...shownRest} = shown[i];
    assert.deepEqual(shownRest, rest);
    assert.ok(described);
    if (note === null) {
      assert.equal(shownNote, null);
    } else {
      assert.match(shownNote ?? '', note);
    }
  }
}

async function SetTidy(page, on) {
  const tidy = page.getByRole('switch', {name: 'Tidy pasted text'});
  if ((await tidy.isChecked()) !== on) await tidy.click();
}

// Replaces the input: typed key by key, or pasted through the clipboard.
async function Enter(page, expression, {paste = false} = {}) {
  const input = page.getByRole('textbox', {name: 'Boolean expression', exact: true});
  await page.bringToFront();  // the clipboard serves the focused page only
  await input.click();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  if (paste) {
    await page.evaluate((text) => navigator.clipboard.writeText(text), expression);
    await page.keyboard.press('Control+V');
  } else {
    await page.keyboard.type(expression);
  }
  await WorkerIdle(page);
  // As the page holds it: a text area turns "\r\n" and "\r" into "\n".
  const entered = await input.inputValue();
  assert.equal(entered, expression.replace(/\r\n?/g, '\n'));
  return entered;
}

function WorkerIdle(page) {
  return page.waitForFunction(
      () => (document.documentElement.dataset.workerRequests || '0') === '0');
}

let browser;
let context;
let server;
let strictServer;  // the same page under kStrictPolicy
const requested = [];

before(async () => {
  try {
    browser = await LaunchChromium();
  } catch (error) {
    if (process.env.CI) throw error;
    console.log(`# SKIP: chromium (${kChromium}) cannot run here: ${error.message}`);
    process.exit(kSkipped);
  }
  server = await ServeFolder(PageFolder());
  strictServer = await ServeFolder(PageFolder(), {'Content-Security-Policy': kStrictPolicy});
  context = await browser.newContext();
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  context.on('request', (request) => requested.push(request.url()));
});

after(async () => {
  await browser?.close();
  await server?.close();
  await strictServer?.close();
});

// `init`, if given, runs in the page before its own scripts.
async function OpenPage(fragment = '', base = server.url, {init = null} = {}) {
  const page = await context.newPage();
  if (init) await page.addInitScript(init);
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('dialog', (dialog) => {
    errors.push(`a ${dialog.type()} opened`);
    dialog.dismiss();
  });
  // Errors on the console, a content policy's refusals among them, but for
  // the missing icon that the browser asks for of its own accord.
  const consoleErrors = [];
  page.on('console', (message) => {
    if (message.type() === 'error' && !message.location().url.endsWith('/favicon.ico')) {
      consoleErrors.push(message.text());
    }
  });
  await page.addInitScript(() => {
    document.addEventListener('securitypolicyviolation', (event) => {
      console.error(
          `refused by the content policy: ${event.effectiveDirective} ${event.blockedURI}`);
    });
  });
  page.consoleErrors = consoleErrors;
  await page.goto(`${base}${fragment ? `#${encodeURIComponent(fragment)}` : ''}`);
  // Converted, or told why it could not start (as under a content policy
  // that forbids its WebAssembly).
  await page.waitForFunction(
      () => document.getElementById('operator').dataset.convertedBy ||
          document.getElementById('error').textContent);
  assert.ok(
      await page.getAttribute('#operator', 'data-converted-by'), await page.textContent('#error'));
  page.errors = errors;
  return page;
}

describe('conversions match boolconv-cli', () => {
  // How a row's text reaches the page: typed with the tidy switch off, or
  // pasted with it on or off.
  const kTyped = {paste: false, tidy: false};
  const kPastedTidied = {paste: true, tidy: true};
  const kPastedAsIs = {paste: true, tidy: false};
  const kCases = [
    ['nested groups', '((a b) or (c d)) e', kTyped],
    ['phrases', '"heart failure" or "cardiac failure" and adult*', kTyped],
    ['operator words in any case', 'asthma AND wheez* Or cough nOt croup and not child', kTyped],
    // The warning's prompt, once per group that loses its parentheses.
    ['unclosed quote', '(adult OR "Tai Ji[mh] OR exercise) AND balance', kTyped],
    ['non-ASCII and emoji', 'café OR "naïve Bayes" 😀 AND 日本語 OR Ελληνικά', kTyped],
    // Emoji count twice in JavaScript strings but once in the spans.
    ['spans after emoji', '😀🎉 "heart failure"[MeSH Terms] tele OR health AND care', kTyped],
    ['lower-case operator among capitals', '(do not resuscitate OR DNR)', kTyped],
    ['leading and trailing operators', 'NOT animals[mh] AND (asthma NOT)', kTyped],
    ['empty input', '', kTyped],
    // One warning for each group around the quote: the first ones, then a count.
    ['an unclosed quote deep in a nest', `${'('.repeat(150)}"x${')'.repeat(150)}`, kPastedAsIs],
    // Pasted from a document: line breaks join words unless tidied.
    [
      'multi-line paste, tidied', '(asthma OR wheez*) AND\r\n(child* OR adolescen*) NOT\r\nadult*',
      kPastedTidied
    ],
    ['multi-line paste as it stands', '(asthma\nOR wheez*\nOR bronchospasm)', kPastedAsIs],
    [
      'typographic quotes and spaces, tidied',
      '(“heart failure” OR “cardiac\u00a0failure”)\tAND\u3000adult', kPastedTidied
    ],
  ];
  let page;
  before(async () => {
    page = await OpenPage();
  });
  after(() => page.close());

  for (const [name, expression, {paste, tidy}] of kCases) {
    test(name, async () => {
      await SetTidy(page, tidy);
      const entered = await Enter(page, expression, {paste});
      AssertSameAsCli(await ReadPage(page), entered, tidy);
    });
  }

  test(
      'a stray ")" shows the error; the last good result stays, marked and not copied',
      async () => {
        await SetTidy(page, false);
        await Enter(page, 'x y');
        const bad = 'a)) or ((b';
        await page.keyboard.press('Control+A');
        await page.keyboard.insertText(bad);
        const shown = await ReadPage(page);
        assert.deepEqual([shown.error, shown.warnings], [CliResult(bad, false).error, []]);
        await AssertOutputs(page, [
          {text: '(x AND y)', stale: true, note: kStaleNote, copy: false},
          {text: '(+x +y)', stale: true, note: kStaleNote, copy: false},
        ]);
        // Neither a click nor the keyboard copies the earlier result: the
        // buttons take no clicks and Tab passes them by.
        await page.bringToFront();  // the clipboard serves the focused page only
        await page.evaluate(() => navigator.clipboard.writeText('clipboard before'));
        for (const name of ['Copy operator form', 'Copy sign form']) {
          await page.getByRole('button', {name}).click({force: true});
        }
        await page.focus('#operator');
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'sign');
        await page.keyboard.press('Tab');
        assert.equal(await page.locator('button.copy:focus').count(), 0);
        await page.focus('#expression');
        assert.equal(await page.evaluate(() => navigator.clipboard.readText()), 'clipboard before');

        // Fixed, the outputs are current again, and copy.
        await Enter(page, 'a or b');
        await AssertOutputs(page, [
          {text: '(a or b)', stale: false, note: null, copy: true},
          {text: '(a b)', stale: false, note: null, copy: true},
        ]);
        await page.getByRole('button', {name: 'Copy sign form'}).click();
        await page.waitForFunction(
            () => /copied/.test(document.getElementById('status').textContent));
        assert.equal(
            await page.evaluate(() => navigator.clipboard.readText()),
            await page.inputValue('#sign'));
        assert.deepEqual(page.errors, []);
      });

  test('a 10 KB expression converts within the keystroke that changed it', async () => {
    await SetTidy(page, false);
    const expression = kStrategyLine.repeat(Math.ceil(kFrameInputLength / kStrategyLine.length));
    await page.fill('#expression', expression);
    // Converted inside the input event, before the browser draws again.
    const convertedAtOnce = await page.evaluate(() => {
      const input = document.getElementById('expression');
      const before = document.getElementById('operator').value;
      input.setRangeText(' x', input.value.length, input.value.length, 'end');
      input.dispatchEvent(new InputEvent('input', {inputType: 'insertText', data: ' x'}));
      return document.getElementById('operator').value !== before;
    });
    assert.ok(convertedAtOnce);
    AssertSameAsCli(await ReadPage(page), await page.inputValue('#expression'), false);
  });
});

describe('the page', () => {
  test('names its controls and starts with the tidy switch on', async () => {
    const page = await OpenPage();
    for (const name of ['Boolean expression', 'Operator form', 'Sign form']) {
      assert.equal(await page.getByRole('textbox', {name, exact: true}).count(), 1, name);
    }
    for (const name of ['Convert', 'Copy operator form', 'Copy sign form']) {
      assert.equal(await page.getByRole('button', {name, exact: true}).count(), 1, name);
    }
    assert.ok(await page.getByRole('switch', {name: 'Tidy pasted text'}).isChecked());
    const version = spawnSync(kCli, ['--version']).stdout.toString().trim().split(' ').pop();
    assert.equal(await page.textContent('#version'), version);
    await page.close();
  });

  test('copy buttons put each output on the clipboard', async () => {
    const page = await OpenPage('a b or c');
    for (const [button, output] of [
             ['Copy operator form', '#operator'], ['Copy sign form', '#sign']]) {
      await page.getByRole('button', {name: button}).click();
      await page.waitForFunction(
          () => /copied/.test(document.getElementById('status').textContent));
      assert.equal(
          await page.evaluate(() => navigator.clipboard.readText()), await page.inputValue(output));
      await page.evaluate(() => {
        document.getElementById('status').textContent = '';
      });
    }
    await page.close();
  });

  test('the address keeps the expression, and opening it restores the conversion', async () => {
    const page = await OpenPage();
    // Characters that mean something in an address, a line break and an emoji.
    const expression = '(a#b OR 50% & c?) AND "x/y"\nNOT 😀';
    const entered = await Enter(page, expression, {paste: true});
    await page.waitForFunction(() => location.hash.length > 1);
    const reopened = await context.newPage();
    await reopened.goto(page.url());
    await reopened.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
    assert.equal(await reopened.inputValue('#expression'), entered);
    assert.equal(await reopened.inputValue('#operator'), await page.inputValue('#operator'));
    await Promise.all([page.close(), reopened.close()]);
  });

  test('works by keyboard alone, with the focus always visible', async () => {
    const expression = 'NOT animals[mh] AND (do not resuscitate OR DNR)';
    const page = await OpenPage(expression);
    const listed = await page.locator('#diagnostics button').count();
    const parts = await page.locator('#structure-tree button').count();
    assert.ok(parts > 0);
    const expected = [
      'expression', 'convert', 'tidy', ...Array(listed).fill('diagnostic'), 'copy-structure',
      ...Array(parts).fill('part'), 'operator', 'copy-operator', 'sign', 'copy-sign'
    ];
    const reached = [];
    for (const _ of expected) {
      await page.keyboard.press('Tab');
      reached.push(await page.evaluate(() => {
        const element = document.activeElement;
        const style = getComputedStyle(element);
        const visible = style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) > 0;
        const name = element.classList.contains('diagnostic') ? 'diagnostic' :
            element.classList.contains('part')                ? 'part' :
            element.dataset.copies                            ? `copy-${element.dataset.copies}` :
                                                                element.id;
        return visible ? name : `${name} (focus not visible)`;
      }));
    }
    assert.deepEqual(reached, expected);

    // Ctrl+Enter (which adds no line break) and Enter on Convert convert and
    // announce at once; Space works the switch.
    const clearStatus = () => page.evaluate(() => {
      document.getElementById('status').textContent = '';
    });
    await page.focus('#expression');
    await page.keyboard.press('End');
    await page.keyboard.type(' x');
    await clearStatus();
    await page.keyboard.press('Control+Enter');
    assert.match(await page.textContent('#status'), /^Operator form: .* x\)\. Sign form: /);
    assert.equal(await page.inputValue('#expression'), `${expression} x`);
    await page.focus('#convert');
    await clearStatus();
    await page.keyboard.press('Enter');
    assert.match(await page.textContent('#status'), /^Operator form: .* x\)\. Sign form: /);
    await page.focus('#tidy');
    await page.keyboard.press('Space');
    assert.equal(await page.isChecked('#tidy'), false);
    await page.close();
  });

  test('a focused diagnostic shows its span; activating it selects the span', async () => {
    const expression = '😀 NOT animals[mh] AND (asthma NOT)';
    const page = await OpenPage(expression);
    const expected = CliResult(expression, true).diagnostics;
    assert.ok(expected.length > 0);
    const codePoints = [...expression];
    for (const [i, diagnostic] of expected.entries()) {
      const before = codePoints.slice(0, diagnostic.start).join('').length;
      const span = codePoints.slice(diagnostic.start, diagnostic.end).join('');
      const button = page.locator('#diagnostics button').nth(i);
      await button.focus();
      assert.equal(
          await page.evaluate(
              () => [...document.querySelectorAll('#backdrop mark.active')]
                        .map((mark) => mark.textContent)
                        .join('')
                        .replaceAll('\u2060', '')),
          span);
      await page.keyboard.press('Enter');
      assert.deepEqual(
          await page.evaluate(() => {
            const input = document.activeElement;
            return [input.id, input.selectionStart, input.selectionEnd];
          }),
          ['expression', before, before + span.length]);
    }
    await page.close();
  });

  test('highlights lie under the text they mark', async () => {
    const page = await OpenPage();
    await page.setViewportSize({width: 360, height: 800});
    await SetTidy(page, true);
    const text = `${kStrategyLine.repeat(12)}\n\n${kStrategyLine}`;
    await Enter(page, text, {paste: true});
    // Same font, padding and wrapping width give the same lines.
    const sizes = await page.evaluate(() => ['expression', 'backdrop'].map((id) => {
      const element = document.getElementById(id);
      const style = getComputedStyle(element);
      return [
        style.font, style.padding, style.whiteSpace, element.clientWidth, element.scrollHeight
      ];
    }));
    assert.ok(await page.locator('#backdrop mark').count() > 0);
    assert.deepEqual(sizes[1], sizes[0]);
    await page.close();
  });

  test('fits a phone and follows the dark preference', async () => {
    const page = await OpenPage('((a b) or (c d)) e');
    await page.setViewportSize({width: 360, height: 740});
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 360));
    const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    await page.emulateMedia({colorScheme: 'light'});
    const light = await background();
    await page.emulateMedia({colorScheme: 'dark'});
    assert.notEqual(await background(), light);
    await page.close();
  });

  test('a 1 MB paste converts in the worker; an overtaken result is dropped', async () => {
    const page = await OpenPage();
    await SetTidy(page, false);
    await page.evaluate(() => {
      window.busySeen = false;
      new MutationObserver(() => {
        window.busySeen ||= document.getElementById('operator').ariaBusy === 'true';
      }).observe(document.getElementById('operator'), {attributes: true});
    });
    const large = kStrategyLine.repeat(Math.ceil(kLargeInputLength / kStrategyLine.length));
    const entered = await Enter(page, large, {paste: true});
    assert.deepEqual(
        await page.evaluate(
            () => [window.busySeen, document.getElementById('operator').dataset.convertedBy]),
        [true, 'worker']);
    AssertSameAsCli(await ReadPage(page), entered, false);

    // A large input overtaken by a small one before the worker can answer:
    // both changes happen in one task, so the worker's result comes later,
    // and must not replace the small one's.
    await page.evaluate((text) => {
      const input = document.getElementById('expression');
      for (const value of [text, 'x y']) {
        input.value = value;
        input.dispatchEvent(new InputEvent('input', {inputType: 'insertFromPaste'}));
      }
    }, `x ${large}`);
    await WorkerIdle(page);
    assert.deepEqual(
        [
          await page.inputValue('#operator'), await page.inputValue('#sign'),
          await page.getAttribute('#operator', 'aria-busy')
        ],
        ['(x AND y)', '(+x +y)', 'false']);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('thousands of findings: the first are listed, the rest counted', async () => {
    const page = await OpenPage();
    await SetTidy(page, true);
    const pasted =
        '(asthma OR wheez*) AND\r\n(child* OR adolescen*) NOT\r\nadult*\r\n'.repeat(3000);
    const entered = await Enter(page, pasted, {paste: true});
    const expected = CliResult(entered, true);
    const shown = await ReadPage(page);
    assert.equal(shown.diagnostics.length, kMaxListedDiagnostics);
    assert.deepEqual(
        shown.diagnostics.map(({code, message}) => ({code, message})),
        expected.diagnostics.slice(0, kMaxListedDiagnostics).map(({code,
                                                                   message}) => ({code, message})));
    assert.match(
        await page.textContent('#diagnostics-more'),
        new RegExp(`^${expected.diagnostics.length - kMaxListedDiagnostics} more not listed`));
    assert.equal(shown.operator, expected.operator);
    await page.close();
  });

  test('opened from disk, it converts, starts its worker and copies', async () => {
    const fileUrl = pathToFileURL(`${PageFolder()}/index.html`).href;
    const page = await OpenPage('a b or c', fileUrl);
    assert.equal(await page.inputValue('#sign'), '(+a +b c)');
    await SetTidy(page, false);
    const large = kStrategyLine.repeat(Math.ceil(2 * kWorkerThreshold / kStrategyLine.length));
    const entered = await Enter(page, large, {paste: true});
    assert.equal(await page.getAttribute('#operator', 'data-converted-by'), 'worker');
    assert.equal(await page.inputValue('#operator'), CliResult(entered, false).operator);
    await page.getByRole('button', {name: 'Copy sign form'}).click();
    await page.waitForFunction(() => /copied/.test(document.getElementById('status').textContent));
    assert.equal(
        await page.evaluate(() => navigator.clipboard.readText()), await page.inputValue('#sign'));
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  // Expressions of a few hundred to a few thousand characters, so that the
  // scanner's blocks meet every construct: runs of parentheses and spaces,
  // quotes, operator words in any case, astral and accented characters.
  function GeneratedExpressions(count) {
    const kPieces = [
      'asthma',   'wheez*', 'café', '日本語', '😀',       '"heart failure"',
      '"x',       'and',    'OR',   'Not',    'and not', '(',
      ')',        '((((',   '))))', '  ',     '     ',   'child*[tiab]',
      '(a or b)',
    ];
    let state = 12345;
    const next = (bound) => {
      state = (state * 1103515245 + 12345) % 2147483648;
      return state % bound;
    };
    const expressions = [];
    for (let i = 0; i < count; ++i) {
      const pieces = [];
      for (let k = 0, n = 20 + next(600); k < n; ++k) {
        pieces.push(kPieces[next(kPieces.length)]);
        if (next(3) !== 0) pieces.push(' ');
      }
      expressions.push(pieces.join(''));
    }
    return expressions;
  }

  test('runs the vector build where the browser has vectors, the plain one elsewhere', async () => {
    const expression = '((a b) or (c d)) e';
    const vector = await OpenPage(expression);
    assert.equal(await vector.evaluate(() => document.documentElement.dataset.engine), 'simd128');
    // Both builds give boolconv-cli's results on the same generated text.
    const generated = GeneratedExpressions(25);
    const CompareGenerated = async (page) => {
      await SetTidy(page, false);
      for (const text of generated) {
        await page.fill('#expression', text);
        await WorkerIdle(page);
        AssertSameAsCli(await ReadPage(page), await page.inputValue('#expression'), false);
      }
    };
    await CompareGenerated(vector);
    assert.deepEqual([vector.errors, vector.consoleErrors], [[], []]);
    await vector.close();
    // A browser without them refuses the probe module: the page and its
    // worker then run engine.js, and give the same results.
    const plain = await OpenPage(expression, server.url, {
      init: () => {
        WebAssembly.validate = () => false;
      },
    });
    assert.equal(await plain.evaluate(() => document.documentElement.dataset.engine), 'plain');
    AssertSameAsCli(await ReadPage(plain), expression, true);
    await CompareGenerated(plain);
    await SetTidy(plain, true);
    const large = kStrategyLine.repeat(Math.ceil(70 * 1024 / kStrategyLine.length));
    const entered = await Enter(plain, large, {paste: true});
    assert.equal(await plain.getAttribute('#operator', 'data-converted-by'), 'worker');
    AssertSameAsCli(await ReadPage(plain), entered, true);
    assert.deepEqual([plain.errors, plain.consoleErrors], [[], []]);
    await plain.close();
  });

  test('runs, worker included, under a strict content policy', async () => {
    // On the page's thread...
    const expression = '((a b) or (c d)) e';
    const page = await OpenPage(expression, strictServer.url);
    assert.equal(await page.getAttribute('#operator', 'data-converted-by'), 'page');
    AssertSameAsCli(await ReadPage(page), expression, true);
    // ...and in its worker.
    const large = kStrategyLine.repeat(Math.ceil(70 * 1024 / kStrategyLine.length));
    assert.ok(large.length > kWorkerThreshold);
    const entered = await Enter(page, large, {paste: true});
    assert.equal(await page.getAttribute('#operator', 'data-converted-by'), 'worker');
    AssertSameAsCli(await ReadPage(page), entered, true);
    assert.deepEqual([page.errors, page.consoleErrors], [[], []]);
    await page.close();
  });

  test('an expression that fails from the start leaves nothing to copy', async () => {
    const page = await OpenPage('a)) or ((b');
    const kNothing = /^Nothing to copy: the expression did not convert/;
    await AssertOutputs(page, [
      {text: '', stale: false, note: kNothing, copy: false},
      {text: '', stale: false, note: kNothing, copy: false},
    ]);
    assert.match(await page.textContent('#error'), /^Not converted: [^]*\.$/);
    await page.close();
  });

  test('the address keeps the Tidy switch: reloading and opening the link restore it', async () => {
    // Tidied, the no-break space is a space; as it stands, it joins two
    // words. Characters that mean something in an address must not be
    // read as the switch.
    const expression = 'a\u00a0b OR q=1&tidy=on #x %25';
    const page = await OpenPage(expression);
    const tidy = page.getByRole('switch', {name: 'Tidy pasted text'});
    assert.ok(await tidy.isChecked());
    await tidy.click();
    await page.waitForFunction(() => /tidy=off/.test(location.hash));
    AssertSameAsCli(await ReadPage(page), expression, false);

    const Converted = (opened) =>
        opened.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
    await page.reload();
    await Converted(page);
    assert.deepEqual(
        [await page.inputValue('#expression'), await tidy.isChecked()], [expression, false]);
    AssertSameAsCli(await ReadPage(page), expression, false);

    const shared = await context.newPage();
    await shared.goto(page.url());
    await Converted(shared);
    assert.deepEqual(
        [await shared.inputValue('#expression'), await shared.isChecked('#tidy')],
        [expression, false]);
    AssertSameAsCli(await ReadPage(shared), expression, false);

    // Switched on again by keyboard, the address drops it.
    await shared.focus('#tidy');
    await shared.keyboard.press('Space');
    await shared.waitForFunction(() => !/tidy=/.test(location.hash));
    await shared.reload();
    await Converted(shared);
    assert.deepEqual(
        [await shared.inputValue('#expression'), await shared.isChecked('#tidy')],
        [expression, true]);
    AssertSameAsCli(await ReadPage(shared), expression, true);
    assert.deepEqual(page.errors, []);
    await Promise.all([page.close(), shared.close()]);
  });

  test('links of every form open with their expression and switch', async () => {
    // [address after "#", expression, switch]
    const kLinks = [
      ['q=a%20b&tidy=off', 'a b', false],
      ['tidy=off&q=a%20b', 'a b', false],
      ['tidy=off', '', false],
      ['q=a%20b', 'a b', true],
      ['q=a%20b&tidy=on', 'a b', true],
      // Links of the older form: the encoded expression alone.
      ['a%20b', 'a b', true],
      ['q%3D1%26tidy%3Doff', 'q=1&tidy=off', true],
      ['x=1&tidy=off', 'x=1&tidy=off', true],
    ];
    const page = await OpenPage();
    for (const [fragment, expression, tidy] of kLinks) {
      // Each link opens a new document: going from one fragment to the next
      // in the same document applies the link to the page as it stands,
      // whose expression the page then writes into the address, and a
      // reload racing that write would see either address.
      await page.goto('about:blank');
      await page.goto(`${server.url}#${fragment}`);
      await page.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
      await page.reload();
      await page.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
      assert.deepEqual(
          [await page.inputValue('#expression'), await page.isChecked('#tidy')], [expression, tidy],
          fragment);
      AssertSameAsCli(await ReadPage(page), expression, tidy);
    }
    // A link followed in the open page applies too.
    await page.goto(`${server.url}#q=c%20d&tidy=off`);
    await page.waitForFunction(() => document.getElementById('expression').value === 'c d');
    assert.equal(await page.isChecked('#tidy'), false);
    AssertSameAsCli(await ReadPage(page), 'c d', false);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('each finding shows its line and column', async () => {
    // [pasted text, the place of each finding]. A text area holds "\r\n" and
    // "\r" as "\n": each is one line break. Columns count code points.
    const kPlaces = [
      ['a AND\nb "x', ['Line 1, column 6', 'Line 2, column 3']],
      ['a AND\r\nb "x', ['Line 1, column 6', 'Line 2, column 3']],
      ['a AND\rb "x', ['Line 1, column 6', 'Line 2, column 3']],
      // U+2028 and U+2029 end no line, for the page as for the command-line tool
      ['a AND\u2028b "x', ['Line 1, column 6', 'Line 1, column 9']],
      ['a AND\u2029\u2029b "x', ['Line 1, column 6', 'Line 1, column 10']],
      ['a\n\n\n"x', ['Line 1, column 2', 'Line 4, column 1']],
      ['😀😀 "x', ['Line 1, column 4']],
      ['😀\n😀 😀 "x', ['Line 1, column 2', 'Line 2, column 5']],
      ['(a\nor b) c\u2028d "x', ['Line 1, column 3', 'Line 2, column 8', 'Line 2, column 11']],
    ];
    const page = await OpenPage();
    await SetTidy(page, false);
    for (const [text, places] of kPlaces) {
      const entered = await Enter(page, text, {paste: true});
      const shown = await page.locator('#diagnostics button .where').allTextContents();
      assert.deepEqual(shown, places, JSON.stringify(text));
      // The findings themselves are the tool's.
      AssertSameAsCli(await ReadPage(page), entered, false);
    }
    await page.close();
  });

  test('the converter\'s warnings fold under the unclosed quote\'s finding', async () => {
    const page = await OpenPage();
    await SetTidy(page, false);
    const expression = '(adult OR "Tai Ji[mh] OR exercise) AND balance';
    await Enter(page, expression);
    const expected = CliResult(expression, false);
    assert.equal(expected.warnings.length, 2);
    const finding = page.locator('#diagnostics li').filter({hasText: '[unclosed-quote]'});
    const fold = finding.locator('details.prompts');
    assert.deepEqual([await page.locator('details.prompts').count(), await fold.count()], [1, 1]);
    assert.equal(await fold.locator('summary').textContent(), 'Warnings from the converter (2)');
    // Closed: the warnings are there but not shown.
    assert.deepEqual(
        [await fold.getAttribute('open'), await fold.locator('p').first().isVisible()],
        [null, false]);
    assert.deepEqual(await fold.locator('p').allTextContents(), expected.warnings);

    // By keyboard: from the finding to its fold, opened with Enter.
    await finding.locator('button').focus();
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.tagName), 'SUMMARY');
    await page.keyboard.press('Enter');
    assert.ok(await fold.locator('p').first().isVisible());
    // Typing on keeps it open while there are warnings.
    await page.focus('#expression');
    await page.keyboard.press('End');
    await page.keyboard.type(' x');
    assert.ok(await page.locator('details.prompts p').first().isVisible());
    await page.keyboard.press('Control+A');
    await page.keyboard.insertText('"a"');
    assert.equal(await page.locator('details.prompts').count(), 0);
    await page.keyboard.insertText('"b');
    assert.equal(await page.locator('details.prompts[open]').count(), 0);
    await page.close();
  });

  test('past the budget, the count of dropped warnings folds with them', async () => {
    const page = await OpenPage();
    await SetTidy(page, false);
    const expression = `${'('.repeat(150)}"x${')'.repeat(150)}`;
    await Enter(page, expression, {paste: true});
    const expected = CliResult(expression, false);
    assert.ok(expected.warnings_dropped > 0);
    const fold = page.locator('#diagnostics li')
                     .filter({hasText: '[unclosed-quote]'})
                     .locator('details.prompts');
    assert.equal(
        await fold.locator('summary').textContent(),
        `Warnings from the converter (${expected.warnings.length + expected.warnings_dropped})`);
    assert.equal(
        await fold.locator('p.dropped').textContent(),
        `${expected.warnings_dropped} more warnings like these are not shown.`);
    assert.equal(await page.locator('#warnings').textContent(), '');
    await page.close();
  });

  test('warnings with no unclosed-quote finding listed fold on their own', async () => {
    const page = await OpenPage();
    await SetTidy(page, true);
    // More repairs than the list shows come before the quote's finding.
    const expression = `${'a\u00a0b '.repeat(kMaxListedDiagnostics + 50)}"x`;
    const entered = await Enter(page, expression, {paste: true});
    const expected = CliResult(entered, true);
    assert.ok(expected.warnings.length > 0);
    assert.equal(await page.locator('#diagnostics details').count(), 0);
    const fold = page.locator('#warnings details.prompts');
    assert.equal(
        await fold.locator('summary').textContent(),
        `Warnings from the converter (${expected.warnings.length})`);
    assert.equal(await fold.getAttribute('open'), null);
    await fold.locator('summary').click();
    assert.deepEqual(await fold.locator('p').allTextContents(), expected.warnings);
    assert.ok(await fold.locator('p').first().isVisible());
    await page.close();
  });

  test('loads nothing from the network', () => {
    const own = requested.filter(
        (url) => url.startsWith(server.url) || url.startsWith(strictServer.url) ||
            url.startsWith('file:') || url.startsWith('data:') || url.startsWith('blob:'));
    assert.deepEqual(requested, own);
  });
});

describe('search histories', () => {
  // [name, history as pasted, the expression its last line combines]
  const kHistories = [
    [
      'Ovid, with a range command', '1 exp Asthma/\n2 wheez*.ti,ab.\n3 or/1-2',
      '(exp Asthma/) OR (wheez*.ti,ab.)'
    ],
    [
      'numbered with #', '#1 asthma[mh]\n#2 wheez*[tiab]\n#3 #1 OR #2',
      '(asthma[mh]) OR (wheez*[tiab])'
    ],
    [
      'EBSCO, with hit counts',
      'S1 (MH "Asthma+")\t(1,204)\nS2 TI wheez* OR AB wheez*\nS3 S1 AND S2',
      '((MH "Asthma+")) AND (TI wheez* OR AB wheez*)'
    ],
  ];

  // boolconv-cli's result for `input` read whole (with `history`, as a
  // search history, converting line `line`, or the default line for 0), as
  // the page converts.
  function CliWhole(input, tidy, {history = false, line = 0} = {}) {
    const args = [
      '--json', '--check', history ? '--history' : '--whole', ...(tidy ? ['--tidy'] : []),
      ...(line ? ['--line', String(line)] : [])
    ];
    const run = spawnSync(kCli, args, {input: `${input}\n`, maxBuffer: 1 << 28});
    return JSON.parse(run.stdout.toString('utf8'));
  }

  const HistorySwitch = (page) => page.getByRole('switch', {name: 'Read as a search history'});
  const LinePicker = (page) => page.getByRole('combobox', {name: 'Line to convert'});

  // The switch is on offer only for a text that looks like a history, and
  // off where it is not on offer.
  async function SetHistory(page, on) {
    if ((await page.isChecked('#history')) !== on) await HistorySwitch(page).click();
  }

  // The history controls as the user finds them.
  function ReadHistoryView(page) {
    return page.evaluate(() => {
      const $ = (id) => document.getElementById(id);
      return {
        offered: $('history').checkVisibility(),
        on: $('history').checked,
        combined: $('combined').checkVisibility() ? $('combined').value : null,
        line: $('history-line').checkVisibility() ? $('history-line').value : null,
        copy: !$('copy-combined').disabled,
      };
    });
  }

  // What the page shows for `history` must be what boolconv-cli --history
  // shows: the combined expression, the error or the two forms, which are
  // also the tool's for the combined expression read whole, and each
  // finding highlighted over its span in the history as pasted.
  async function AssertHistoryAsCli(page, history, tidy, line = 0) {
    const expected = CliWhole(history, tidy, {history: true, line});
    const {combined} = expected.history;
    delete expected.history;
    assert.equal((await ReadHistoryView(page)).combined, combined);
    if (combined !== '') {
      const whole = CliWhole(combined, tidy);
      assert.deepEqual(
          [expected.operator, expected.sign, expected.warnings],
          [whole.operator, whole.sign, whole.warnings]);
    }
    AssertSameResult(await ReadPage(page), expected, history);
  }

  let page;
  before(async () => {
    page = await OpenPage();
  });
  after(() => page.close());

  for (const [name, history, combined] of kHistories) {
    test(
        `${name}: offered, off at first; switched on, its combined expression converts`,
        async () => {
          await SetTidy(page, true);
          await SetHistory(page, false);
          const entered = await Enter(page, history, {paste: true});
          assert.deepEqual(
              await ReadHistoryView(page),
              {offered: true, on: false, combined: null, line: null, copy: true});
          // Until switched on, the text converts as it stands.
          AssertSameAsCli(await ReadPage(page), entered, true);

          await SetHistory(page, true);
          const view = await ReadHistoryView(page);
          assert.deepEqual(view, {offered: true, on: true, combined, line: '3', copy: true});
          await AssertHistoryAsCli(page, entered, true);
          assert.deepEqual(
              await LinePicker(page).locator('option').evaluateAll(
                  (options) => options.map((option) => option.value)),
              ['1', '2', '3']);

          // Tidy off applies to the combined expression too.
          await SetTidy(page, false);
          await AssertHistoryAsCli(page, entered, false);
          assert.deepEqual(page.errors, []);
        });
  }

  test('text that is no history is not offered the switch', async () => {
    await SetHistory(page, false);
    for (const text of ['(asthma\nOR wheez*)', '1 asthma\n2 wheeze', '3 or/1-2', 'a b']) {
      await Enter(page, text, {paste: true});
      assert.equal((await ReadHistoryView(page)).offered, false, JSON.stringify(text));
    }
  });

  test('findings highlight their place in the pasted lines', async () => {
    await SetTidy(page, true);
    // [history, finding's code, the text it highlights, where]
    const kFindings = [
      ['1 asthma\n2 "wheez* OR cough\n3 1 AND 2', 'unclosed-quote', '"', 'Line 2, column 3'],
      ['1 exp Asthma/\n2 wheez*.ti,ab.\n3 or/1-2', 'field-code', '.ti,ab.', 'Line 2, column 9'],
      [
        '#1 asthma\n#2 wheeze\n#3 #1 AND child*', 'history-unused-line', 'wheeze',
        'Line 2, column 4'
      ],
      // Code points after an emoji, in the line after it.
      ['#1 😀 asthma.ti.\n#2 wheeze\n#3 #1 OR #2', 'field-code', '.ti.', 'Line 1, column 12'],
      [
        '#1 asthma\n#2 😀 wheeze\n#3 #1 OR #2 NOT animals and not x', 'lowercase-operator',
        'and not', 'Line 3, column 25'
      ],
    ];
    for (const [history, code, highlighted, where] of kFindings) {
      await Enter(page, history, {paste: true});
      await SetHistory(page, true);
      await AssertHistoryAsCli(page, history, true);
      const index =
          (await ReadPage(page))
              .diagnostics.findIndex((d) => d.code === code && d.highlighted === highlighted);
      assert.ok(index >= 0, `${code} over ${highlighted} in ${JSON.stringify(history)}`);
      const button = page.locator('#diagnostics button').nth(index);
      assert.equal(await button.locator('.where').textContent(), where);
      // Activated, it selects that text in the input.
      await button.click();
      assert.equal(
          await page.evaluate(() => {
            const input = document.getElementById('expression');
            return input.value.slice(input.selectionStart, input.selectionEnd);
          }),
          highlighted);
    }
  });

  test('a line that refers to a missing one is an error in the pasted text', async () => {
    await SetTidy(page, true);
    await Enter(page, '1 asthma\n2 wheeze\n3 1 OR 2', {paste: true});
    await SetHistory(page, true);
    await page.focus('#expression');
    await page.keyboard.press('End');
    const good = CliWhole('(asthma) OR (wheeze)', true);
    // Line 3 now refers to a line 4.
    await page.keyboard.press('Shift+ArrowLeft');
    await page.keyboard.type('4');
    await AssertHistoryAsCli(page, '1 asthma\n2 wheeze\n3 1 OR 4', true);
    const shown = await ReadPage(page);
    assert.match(shown.error, /^Line 3 refers to line 4, which the history does not have/);
    const missing = shown.diagnostics.find((d) => d.code === 'history-missing-line');
    assert.deepEqual([missing.severity, missing.highlighted], ['error', '4']);
    assert.deepEqual(
        await ReadHistoryView(page),
        {offered: true, on: true, combined: '', line: '3', copy: false});
    await AssertOutputs(page, [
      {text: good.operator, stale: true, note: kStaleNote, copy: false},
      {text: good.sign, stale: true, note: kStaleNote, copy: false},
    ]);
  });

  test('picking another line converts that line; a new paste picks the default again', async () => {
    await SetTidy(page, true);
    const history = '1 exp Asthma/\n2 wheez*.ti,ab.\n3 or/1-2\n4 child*.ti.\n5 3 and 4';
    await Enter(page, history, {paste: true});
    await SetHistory(page, true);
    const all = '((exp Asthma/) OR (wheez*.ti,ab.)) and (child*.ti.)';
    assert.equal((await ReadHistoryView(page)).combined, all);
    assert.deepEqual(await LinePicker(page).locator('option').allTextContents(), [
      'Line 1: exp Asthma/', 'Line 2: wheez*.ti,ab.', 'Line 3: or/1-2', 'Line 4: child*.ti.',
      'Line 5: 3 and 4'
    ]);
    // By keyboard: the line before the last.
    await LinePicker(page).focus();
    await page.keyboard.press('ArrowUp');
    assert.deepEqual(
        await ReadHistoryView(page),
        {offered: true, on: true, combined: 'child*.ti.', line: '4', copy: true});
    await AssertHistoryAsCli(page, history, true, 4);
    await LinePicker(page).selectOption('3');
    assert.equal((await ReadHistoryView(page)).combined, '(exp Asthma/) OR (wheez*.ti,ab.)');
    await AssertHistoryAsCli(page, history, true, 3);
    const unused = (await ReadPage(page))
                       .diagnostics.filter((d) => d.code === 'history-unused-line')
                       .map((d) => d.highlighted);
    assert.deepEqual(unused, ['3 and 4']);
    // The pick holds while the history is edited...
    await page.focus('#expression');
    await page.keyboard.press('End');
    await page.keyboard.type(' NOT 2');
    assert.equal((await ReadHistoryView(page)).line, '3');
    // ...and a history pasted over it starts from the default line.
    await Enter(page, history, {paste: true});
    const view = await ReadHistoryView(page);
    assert.deepEqual([view.line, view.combined], ['5', all]);
  });

  test('the address keeps the history switch and the line picked', async () => {
    const history = '#1 asthma\n#2 wheeze\n#3 #1 OR #2\n#4 #3 AND child';
    const opened = await OpenPage(history);
    assert.deepEqual(
        await ReadHistoryView(opened),
        {offered: true, on: false, combined: null, line: null, copy: true});
    await SetHistory(opened, true);
    await opened.waitForFunction(() => /&history=on$/.test(location.hash));
    await LinePicker(opened).selectOption('3');
    await opened.waitForFunction(() => /&history=on&line=3$/.test(location.hash));

    const Converted = (shown) =>
        shown.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
    const shared = await context.newPage();
    await shared.goto(opened.url());
    await Converted(shared);
    assert.equal(await shared.inputValue('#expression'), history);
    assert.deepEqual(
        await ReadHistoryView(shared),
        {offered: true, on: true, combined: '(asthma) OR (wheeze)', line: '3', copy: true});
    await AssertHistoryAsCli(shared, history, true, 3);

    // Links of each form: [address after "#", switch, line shown, combined].
    const q = `q=${encodeURIComponent(history)}`;
    const kLinks = [
      [`${q}&history=on`, true, '4', '((asthma) OR (wheeze)) AND child'],
      [`history=on&line=2&${q}&tidy=off`, true, '2', 'wheeze'],
      [`${q}&history=off&line=2`, false, null, null],
      [`${q}&line=2`, false, null, null],
    ];
    for (const [fragment, on, line, combined] of kLinks) {
      await shared.goto(`${server.url}#${fragment}`);
      await shared.reload();
      await Converted(shared);
      const view = await ReadHistoryView(shared);
      assert.deepEqual([view.on, view.line, view.combined], [on, line, combined], fragment);
    }

    // A line the history does not have: shown as missing, and an error.
    await shared.goto(`${server.url}#${q}&history=on&line=9`);
    await shared.reload();
    await Converted(shared);
    assert.equal((await ReadHistoryView(shared)).line, '9');
    assert.equal(
        await LinePicker(shared).locator('option:checked').textContent(),
        'Line 9: not in the history');
    assert.equal((await ReadPage(shared)).error, 'The history has no line 9 to convert.');
    await AssertHistoryAsCli(shared, history, true, 9);

    // Switched off, the address drops the switch and the line.
    await shared.goto(`${server.url}#${q}&history=on&line=2`);
    await shared.reload();
    await Converted(shared);
    await HistorySwitch(shared).focus();
    await shared.keyboard.press('Space');
    await shared.waitForFunction(() => !/history=|line=/.test(location.hash));
    AssertSameAsCli(await ReadPage(shared), history, true);
    assert.deepEqual(opened.errors, []);
    await Promise.all([opened.close(), shared.close()]);
  });

  test('by keyboard alone, under a strict content policy: switch, picker, copy', async () => {
    const history = '1 asthma\n2 wheeze\n3 1 or 2';
    const strict = await OpenPage(history, strictServer.url);
    await strict.focus('#expression');
    await strict.keyboard.press('Tab');
    await strict.keyboard.press('Tab');
    await strict.keyboard.press('Tab');
    assert.equal(await strict.evaluate(() => document.activeElement.id), 'history');
    await strict.keyboard.press('Space');
    const listed = await strict.locator('#diagnostics button').count();
    const expected = ['history-line', 'combined', 'copy-combined', ...Array(listed).fill('')];
    const reached = [];
    for (const _ of expected) {
      await strict.keyboard.press('Tab');
      reached.push(await strict.evaluate(() => {
        const element = document.activeElement;
        const style = getComputedStyle(element);
        const visible = style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) > 0;
        return visible ? element.id : `${element.id} (focus not visible)`;
      }));
    }
    assert.deepEqual(reached, expected);
    await strict.bringToFront();  // the clipboard serves the focused page only
    await strict.focus('#copy-combined');
    await strict.keyboard.press('Enter');
    await strict.waitForFunction(
        () => document.getElementById('status').textContent === 'Combined expression copied.');
    assert.equal(
        await strict.evaluate(() => navigator.clipboard.readText()), '(asthma) or (wheeze)');
    assert.deepEqual([strict.errors, strict.consoleErrors], [[], []]);
    await strict.close();
  });

  test('a long history converts in the worker, read as a history', async () => {
    const count = 3000;
    const lines = Array.from({length: count}, (_, i) => `${i + 1} term${i} OR alt${i}*`);
    lines.push(`${count + 1} or/1-${count}`);
    const history = lines.join('\n');
    assert.ok(history.length > kWorkerThreshold);
    const opened = await OpenPage();
    await SetHistory(opened, false);
    await Enter(opened, history, {paste: true});
    await SetHistory(opened, true);
    await WorkerIdle(opened);
    assert.equal(await opened.getAttribute('#operator', 'data-converted-by'), 'worker');
    const combined =
        lines.slice(0, count).map((line) => `(${line.slice(line.indexOf(' ') + 1)})`).join(' OR ');
    assert.equal((await ReadHistoryView(opened)).combined, combined);
    await AssertHistoryAsCli(opened, history, true);
    await opened.close();
  });
});

describe('the structure panel', () => {
  // The tool's output for `text` as the page converts it: every finding
  // checked, tidied when `tidy`, read whole or as a search history; with
  // --json, or with the tree drawn after the forms.
  function CliRun(text, tidy, history, json) {
    const args = [
      ...(json ? ['--json'] : []), '--check', '--explain', ...(tidy ? ['--tidy'] : []),
      ...(history                 ? ['--history'] :
              /[\r\n]/.test(text) ? ['--whole'] :
                                    [])
    ];
    const run = spawnSync(kCli, args, {input: `${text}\n`, maxBuffer: 1 << 28});
    return run.stdout.toString('utf8');
  }

  // boolconv-cli --explain's tree of `text`: what it writes after the
  // combined expression of a history and the two forms.
  function CliTree(text, tidy, {history = false} = {}) {
    const json = JSON.parse(CliRun(text, tidy, history, true));
    const combined = history && json.history.combined ? `${json.history.combined}\n` : '';
    const written = CliRun(text, tidy, history, false);
    const before = `${combined}${json.operator}\n${json.sign}\n`;
    assert.ok(written.startsWith(before), written);
    return written.slice(before.length);
  }

  // The tool's tree as [depth, line] pairs, its drawing characters read as
  // depth. Parts deeper than it indents are left out: they are written with
  // their depth, which the page does not draw.
  function ToolTree(text) {
    return text.split('\n')
        .filter((line) => line && !/^[│ ]*[├└]─ \[depth /.test(line))
        .map((line) => {
          const [prefix, indent, branch] = /^((?:│  | {3})*)([├└]─ )?/.exec(line);
          return [indent.length / 3 + (branch ? 1 : 0), line.slice(prefix.length)];
        });
  }

  // The panel's lists as [depth, line] pairs: each part's title (a button's,
  // or a line's with no place in the input), and for the readings of a
  // group its title followed by each reading, as the tool writes them on
  // one line.
  function ReadTree(page) {
    return page.evaluate(() => {
      const tree = document.getElementById('structure-tree');
      const kTitle = ':scope > button.part > .title, :scope > .title';
      return [...tree.querySelectorAll('li')]
          .filter((item) => item.querySelector(kTitle))
          .map((item) => {
            let depth = 0;
            for (let at = item.parentElement; at !== tree; at = at.parentElement) {
              if (at.tagName === 'UL') ++depth;
            }
            const title = item.querySelector(kTitle).textContent;
            const readings = [...item.querySelectorAll(':scope > .reading-list > li')].map(
                (reading) => reading.textContent);
            return [depth, readings.length ? `${title} ${readings.join('; ')}` : title];
          });
    });
  }

  // The structure as Copy puts it on the clipboard.
  async function CopyStructure(page) {
    await page.bringToFront();  // the clipboard serves the focused page only
    await page.evaluate(() => {
      document.getElementById('status').textContent = '';
    });
    await page.getByRole('button', {name: 'Copy structure as text'}).click();
    await page.waitForFunction(
        () => document.getElementById('status').textContent === 'Structure copied.');
    return page.evaluate(() => navigator.clipboard.readText());
  }

  // The engine's own result for `text` with the page's options, asked for
  // the structure as an object and as JSON text.
  function EngineExplain(page, text, options) {
    return page.evaluate(async ([text, options]) => {
      window.testEngine ??= await BoolconvEngineScript()();
      const object = window.testEngine.convert(text, {...options, check: true, explain: true});
      const json = window.testEngine.convert(text, {...options, check: true, explain: 'json'});
      return [object.explain, JSON.parse(json.explain)];
    }, [text, options]);
  }

  // The text of the input that the highlights marked active cover.
  function ActiveText(page) {
    return page.evaluate(
        () => [...document.querySelectorAll('#backdrop mark.active')]
                  .map((mark) => mark.textContent.replaceAll('\u2060', ''))
                  .join(''));
  }

  // The switch is on offer only for a text that looks like a history, and
  // off where it is not on offer.
  async function SetHistory(page, on) {
    if ((await page.isChecked('#history')) !== on) {
      await page.getByRole('switch', {name: 'Read as a search history'}).click();
    }
  }

  const kTyped = {paste: false, tidy: false};
  const kPastedTidied = {paste: true, tidy: true};
  const kPastedAsIs = {paste: true, tidy: false};
  // [name, text, how it reaches the page]
  const kTrees = [
    ['AND and OR mixed', 'a OR b AND c', kTyped],
    ['bare terms with none required', 'a OR b NOT c', kTyped],
    ['nested groups, an excluded group', '((a b) or (c d)) e NOT (x OR y)', kTyped],
    [
      'phrases, emoji and other scripts', '😀 "heart failure" OR café AND (日本語 OR Ελληνικά)',
      kTyped
    ],
    [
      'too long a mix to write its readings', 'a OR b AND c OR d AND e OR f AND g OR h AND i',
      kTyped
    ],
    ['an unclosed quote', '(adult OR "Tai Ji[mh] OR exercise) AND balance', kTyped],
    ['groups that convert inside an unconverted expression', '"a (b c) d', kTyped],
    ['a single word converts no group', 'asthma', kTyped],
    [
      'invisible characters and a long term, as they stand',
      `a\tb OR ${'x'.repeat(60)} OR c\u00a0d\u200be`, kPastedAsIs
    ],
    ['line breaks, as they stand', '(asthma\r\nOR wheez*) AND\nchild*', kPastedAsIs],
    [
      'typographic quotes and a line break, tidied',
      '(“heart failure” OR “cardiac failure”)\r\nAND adult', kPastedTidied
    ],
  ];
  let page;
  before(async () => {
    page = await OpenPage();
  });
  after(() => page.close());

  for (const [name, text, {paste, tidy}] of kTrees) {
    test(`${name}: the parts and their words are the tool's`, async () => {
      await SetHistory(page, false);
      await SetTidy(page, tidy);
      const entered = await Enter(page, text, {paste});
      const drawn = CliTree(entered, tidy);
      assert.deepEqual(await ReadTree(page), ToolTree(drawn));
      assert.equal(await CopyStructure(page), drawn);
      // The engine gives the tool's structure, spans and all.
      const expected = JSON.parse(CliRun(entered, tidy, false, true)).explain;
      assert.deepEqual(await EngineExplain(page, entered, {tidy}), [expected, expected]);
      assert.deepEqual(page.errors, []);
    });
  }

  test(
      'a history: the combined expression\'s structure, its terms in the pasted lines',
      async () => {
        await SetHistory(page, false);
        await SetTidy(page, true);
        const history = '1 exp Asthma/\n2 wheez*.ti,ab.\n3 or/1-2\n4 child*\n5 3 AND 4';
        await Enter(page, history, {paste: true});
        await SetHistory(page, true);
        const drawn = CliTree(history, true, {history: true});
        assert.deepEqual(await ReadTree(page), ToolTree(drawn));
        assert.equal(await CopyStructure(page), drawn);
        const expected = JSON.parse(CliRun(history, true, true, true)).explain;
        assert.deepEqual(
            await EngineExplain(page, history, {tidy: true, history: true}), [expected, expected]);
        await SetHistory(page, false);
      });

  test('terms that Tidy or a history moves keep their text and place', async () => {
    // [text, history, the tree, [a part's title, the text it highlights]]
    const kMoved = [
      // A sign Tidy takes away shifts the terms after it.
      ['a +b -c', false, 'all of\n├─ a\n├─ b\n└─ none of: c\n', [['b', 'b'], ['none of: c', 'c']]],
      [
        'x “a b” +c d', false, 'all of: x, “a b”, c, d\n',
        [['all of: x, “a b”, c, d', 'x “a b” +c d']]
      ],
      // A line combined ahead of an earlier one.
      [
        '1 x\n2 y\n3 longword OR z\n4 3 AND 1', true, 'all of\n├─ any of: longword, z\n└─ x\n',
        [['any of: longword, z', 'longword OR z'], ['x', 'x']]
      ],
    ];
    await SetHistory(page, false);
    await SetTidy(page, true);
    for (const [text, history, tree, highlights] of kMoved) {
      await Enter(page, text, {paste: true});
      await SetHistory(page, history);
      assert.equal(await CopyStructure(page), tree, text);
      assert.equal(CliTree(text, true, {history}), tree, text);
      for (const [title, highlighted] of highlights) {
        await page.locator('#structure-tree button.part').filter({hasText: title}).last().focus();
        assert.equal(await ActiveText(page), highlighted, `${text}: ${title}`);
      }
      await SetHistory(page, false);
    }
  });

  test('a part with the focus or the pointer on it highlights its place', async () => {
    await SetHistory(page, false);
    await SetTidy(page, false);
    const expression = '😀 x (a OR b) NOT "c d"';
    await Enter(page, expression);
    // [part, the text it highlights], in the order Tab reaches them.
    const kParts = [
      ['all of', expression],
      ['😀', '😀'],
      ['x', 'x'],
      ['any of: a, b', 'a OR b'],
      ['none of: "c d"', '"c d"'],
    ];
    await page.focus('#copy-structure');
    for (const [title, highlighted] of kParts) {
      await page.keyboard.press('Tab');
      assert.deepEqual(
          [await page.evaluate(() => document.activeElement.textContent), await ActiveText(page)],
          [title, highlighted]);
    }
    // The pointer's part is highlighted while it is there, then the focus's.
    await page.locator('#structure-tree button.part').filter({hasText: /^x$/}).hover();
    assert.equal(await ActiveText(page), 'x');
    await page.mouse.move(0, 0);
    assert.equal(await ActiveText(page), '"c d"');
    // Activated, the part is selected in the input.
    await page.keyboard.press('Enter');
    assert.deepEqual(
        await page.evaluate(() => {
          const input = document.activeElement;
          return [input.id, input.value.slice(input.selectionStart, input.selectionEnd)];
        }),
        ['expression', '"c d"']);
    assert.equal(await ActiveText(page), '');
    // The findings' highlights are as they were.
    AssertSameAsCli(await ReadPage(page), expression, false);
  });

  test('a group that databases read differently is marked and shows each reading', async () => {
    await SetHistory(page, false);
    await SetTidy(page, false);
    // [text, the readings of its outer group, or null where it mixes no AND and OR]
    const kGroups = [
      ['a OR b AND c', JSON.parse(CliRun('a OR b AND c', false, false, true)).explain.groups[0]],
      ['(a OR b) AND c', null],
    ];
    for (const [text, group] of kGroups) {
      await Enter(page, text);
      const root = page.locator('#structure-tree > li > button.part');
      const readings = page.locator('#structure-tree li.readings');
      if (group === null) {
        assert.deepEqual(
            [await root.locator('.differ').count(), await readings.count()], [0, 0], text);
        continue;
      }
      assert.ok(group.readings.differ);
      // Said in words, not by colour alone, where the group's title is.
      assert.equal(await root.textContent(), 'all of read differently');
      assert.ok(await root.locator('.differ').isVisible());
      assert.equal(
          await readings.locator('> button').textContent(),
          'databases read this group differently:');
      assert.deepEqual(
          await readings.locator('.reading-list > li')
              .evaluateAll(
                  (items) => items.map((item) => [...item.children].map((e) => e.textContent))),
          [
            ['left to right (PubMed)', group.readings.left_to_right],
            ['AND before OR (most)', group.readings.and_first],
            ['OR before AND (Scopus)', group.readings.or_first],
          ]);
      assert.ok(await readings.locator('.reading-list').isVisible());
    }
  });

  test('shown only for an expression that converts', async () => {
    await SetHistory(page, false);
    await SetTidy(page, false);
    const Shown = () => page.locator('#structure').isVisible();
    await Enter(page, 'a b');
    assert.equal(await Shown(), true);
    await Enter(page, 'a)) or ((b');
    assert.equal(await Shown(), false);
    await Enter(page, '');
    assert.equal(await Shown(), false);
    await Enter(page, 'a b');
    assert.equal(await Shown(), true);
  });

  test('deeper than 16 levels: drawn to 16, with a note; Copy gives them all', async () => {
    await SetHistory(page, false);
    await SetTidy(page, false);
    const MaxDepth = () => page.evaluate(() => {
      const tree = document.getElementById('structure-tree');
      let most = 0;
      for (const item of tree.querySelectorAll('li')) {
        let depth = 0;
        for (let at = item.parentElement; at !== tree; at = at.parentElement) {
          if (at.tagName === 'UL' && !at.classList.contains('reading-list')) ++depth;
        }
        most = Math.max(most, depth);
      }
      return most;
    });
    const kNote = /^Parts more than 16 levels deep are not drawn here\. Copy gives the whole/;

    const nest = `${'a ('.repeat(40)}b${')'.repeat(40)}`;
    await Enter(page, nest, {paste: true});
    const drawn = CliTree(nest, false);
    assert.match(drawn, /\[depth 39\] all of: a, b\n$/);
    assert.deepEqual(await ReadTree(page), ToolTree(drawn));
    assert.equal(await MaxDepth(), kMaxStructureDepth);
    assert.match(await page.textContent('#structure-more'), kNote);
    assert.ok(await page.locator('#structure-tree .deeper').isVisible());
    assert.equal(await CopyStructure(page), drawn);
    // On a phone, the deepest level drawn still fits.
    await page.setViewportSize({width: 360, height: 740});
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 360));
    await page.setViewportSize({width: 1280, height: 720});

    // 100,000 levels, which the worker converts, draw no deeper.
    const deep = `${'a ('.repeat(100000)}b${')'.repeat(100000)}`;
    const started = Date.now();
    await Enter(page, deep, {paste: true});
    assert.ok(Date.now() - started < 30000, `${Date.now() - started} ms`);
    assert.equal(await page.getAttribute('#operator', 'data-converted-by'), 'worker');
    assert.equal(await MaxDepth(), kMaxStructureDepth);
    assert.match(await page.textContent('#structure-more'), kNote);
    // Each level an "a" and a group: the root and two parts a level.
    assert.equal(
        await page.locator('#structure-tree button.part').count(), 2 * kMaxStructureDepth + 1);
    // The page goes on at once.
    await Enter(page, 'a b');
    assert.deepEqual(await ReadTree(page), [[0, 'all of: a, b']]);
    assert.equal(await page.locator('#structure-more').isVisible(), false);
    assert.deepEqual(page.errors, []);
  });

  test('a long paste under a strict content policy: from the worker, the first parts', async () => {
    const strict = await OpenPage('', strictServer.url);
    await SetTidy(strict, false);
    const text = kStrategyLine.repeat(Math.ceil(70 * 1024 / kStrategyLine.length));
    const entered = await Enter(strict, text, {paste: true});
    assert.equal(await strict.getAttribute('#operator', 'data-converted-by'), 'worker');
    const drawn = CliTree(entered, false);
    const parts = await ReadTree(strict);
    assert.equal(parts.length, kMaxStructureParts);
    assert.deepEqual(parts, ToolTree(drawn).slice(0, kMaxStructureParts));
    assert.equal(
        await strict.textContent('#structure-more'),
        `Only the first ${
            kMaxStructureParts} parts are drawn here. Copy gives the whole structure ` +
            'as text.');
    assert.equal(await CopyStructure(strict), drawn);
    assert.deepEqual([strict.errors, strict.consoleErrors], [[], []]);
    await strict.close();
  });
});
