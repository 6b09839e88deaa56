// Checks what view_tileset.js found: one PASS or FAIL line a check, then "N passed, N failed";
// exits 1 when a check fails.
// Usage: node check_views.js [--top-levels] VIEWS_JSON
// --top-levels: the tileset has levels above the tiles, so the whole view asks for no content
// that view_tileset.js counted as a tile's own level (its --own-level).
'use strict';
const fs = require('fs');

function checks(result, topLevels) {
  const whole = (result.views || {}).whole || {};
  const close = (result.views || {}).close || {};
  const list = [
    ['the tileset loads', (result.loadErrors || ['no views']).length === 0,
     (result.loadErrors || []).join('; ')],
    ['no tile fails to load', (result.tileFailures || []).length === 0,
     JSON.stringify(result.tileFailures)],
    ['the page logs no error', (result.consoleErrors || []).length === 0,
     (result.consoleErrors || []).join('; ')],
    ['nothing is asked of the network', result.outsideRequests === 0,
     JSON.stringify(result.outsideUrls)],
    ['the whole view loads and draws content', !whole.timedOut && whole.glbRequests > 0,
     whole.error || `${whole.glbRequests} content requests`],
    ['the close view reaches the finest level under it',
     !close.timedOut && close.reachedLeaf === true,
     close.error || JSON.stringify(close.finest)],
  ];
  if (topLevels) {
    list.push(['the whole view asks for no tile\'s own level',
               typeof whole.ownLevelRequests === 'number' && whole.ownLevelRequests === 0,
               `${whole.ownLevelRequests} of ${whole.requests} requests`]);
  }
  return list;
}

function main(argv) {
  const topLevels = argv.includes('--top-levels');
  const files = argv.filter((a) => a !== '--top-levels');
  if (files.length !== 1) {
    console.error('usage: node check_views.js [--top-levels] VIEWS_JSON');
    return 2;
  }
  const result = JSON.parse(fs.readFileSync(files[0], 'utf8'));
  let passed = 0, failed = 0;
  for (const [name, ok, detail] of checks(result, topLevels)) {
    console.log(`${ok ? 'PASS' : 'FAIL'} ${name}${ok ? '' : `: ${detail}`}`);
    if (ok) ++passed;
    else ++failed;
  }
  console.log(`${passed} passed, ${failed} failed`);
  return failed ? 1 : 0;
}

process.exitCode = main(process.argv.slice(2));
