// What the browser test, the measurements and the screenshot share: Debian's
// chromium driven by playwright-core, and the built page served on loopback.

import {readFile, stat} from 'node:fs/promises';
import http from 'node:http';
import path from 'node:path';
import {chromium} from 'playwright-core';

export const kChromium = process.env.BOOLCONV_CHROMIUM || '/usr/bin/chromium';

// Chromium runs without its sandbox (as root it starts no other way) and
// without the background services that reach for the network, which this
// machine does not have.
const kChromiumArgs = [
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Starts headless chromium; rejects when it cannot run here.
export function LaunchChromium() {
  return chromium.launch({executablePath: kChromium, chromiumSandbox: false, args: kChromiumArgs});
}

const kContentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.png': 'image/png',
};

// Serves the files of `folder` on 127.0.0.1 as any static host would, with
// `headers` added to each file's (a host's content policy, say). Resolves to
// {url, close()}; `url` ends in "/".
export async function ServeFolder(folder, headers = {}) {
  const root = path.resolve(folder);
  const server = http.createServer(async (request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://host').pathname);
    const file = path.join(root, name.endsWith('/') ? `${name}index.html` : name);
    try {
      if (!file.startsWith(root + path.sep) || !(await stat(file)).isFile()) throw new Error();
      const body = await readFile(file);
      response.writeHead(200, {
        ...headers,
        'Content-Type': kContentTypes[path.extname(file)] || 'application/octet-stream',
      });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// The built page's folder, named by BOOLCONV_WEB_PAGE or the first argument.
export function PageFolder() {
  const folder = process.env.BOOLCONV_WEB_PAGE || process.argv[2];
  if (!folder)
    throw new Error('name the built page folder in BOOLCONV_WEB_PAGE (make web builds it)');
  return path.resolve(folder);
}
