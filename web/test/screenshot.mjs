// Draws the README's picture of the page: the built page in headless
// chromium after converting a strategy, in the light scheme.
//
//   node web/test/screenshot.mjs PAGE_FOLDER OUTPUT.png

import {LaunchChromium, PageFolder, ServeFolder} from './browser.mjs';

const kExpression = '(asthma OR wheez*) AND (child* OR adolescen*) NOT adult*';
const kViewport = {
  width: 800,
  height: 600
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
  await page.keyboard.press('Tab');  // on to Convert: the picture shows the results, not a caret
  await page.screenshot({path: output, fullPage: true});
  console.log(`wrote ${output}`);
} finally {
  await browser.close();
  await server.close();
}
