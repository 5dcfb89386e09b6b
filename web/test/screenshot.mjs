// Draws the README's picture of the page: the built page in headless
// chromium after converting a strategy, in the light scheme.
//
//   node web/test/screenshot.mjs PAGE_FOLDER OUTPUT.png

import {LaunchChromium, PageFolder, ServeFolder} from './browser.mjs';

// A strategy with one finding, so that the picture shows a highlight too.
const kExpression = '(asthma OR wheez*) AND (child* OR adolescen*) NOT "heart failure"[MeSH Terms]';
const kViewport = {
  width: 640,
  height: 900
};

const output = process.argv[3];
if (!output) {
  console.error('usage: node web/test/screenshot.mjs PAGE_FOLDER OUTPUT.png');
  process.exit(2);
}
const server = await ServeFolder(PageFolder());
const browser = await LaunchChromium();
try {
  const page = await browser.newPage({viewport: kViewport, colorScheme: 'light'});
  await page.goto(server.url);
  await page.waitForFunction(() => document.getElementById('operator').dataset.convertedBy);
  await page.getByRole('textbox', {name: 'Boolean expression', exact: true}).click();
  await page.keyboard.type(kExpression);
  // The results without a caret or a focus ring, down to the sign form.
  await page.evaluate(() => document.activeElement.blur());
  const bottom = await page.evaluate(
      () => document.getElementById('sign').closest('.output').getBoundingClientRect().bottom);
  await page.screenshot({path: output, clip: {x: 0, y: 0, width: kViewport.width, height: bottom}});
  console.log(`wrote ${output}`);
} finally {
  await browser.close();
  await server.close();
}
