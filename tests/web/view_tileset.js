// Loads a tileset in CesiumJS in headless Chromium, as a web globe shows it, and tells what the
// viewer asked for. The tileset folder and Cesium's built files are served from a local HTTP
// server; the page has no imagery, no terrain and no Ion, and every request that leaves
// localhost fails and is counted. Two views at 1920x1080, default maximum screen-space error:
//   whole: the camera sees the whole tileset; every content request until all tiles are loaded;
//   close: the camera close above the surface under the whole view's centre, brought nearer
//          step by step to the finest tile drawn there until that tile is a leaf of the tree.
// Prints one JSON object. Exits 0 when the views ran (whatever they found), 2 on a usage or
// set-up error (no browser, no Cesium, no tileset).
// Usage: node view_tileset.js [--screenshot PREFIX] [--timeout SECONDS] [--own-level REGEX]
//        [--chromium PATH] TILESET_DIR
// --own-level: a content path (relative to the tileset folder) matching it is a tile's own
// level, not a level above the tiles; each view counts those requests apart (a tileset.json
// matching it, a tile's own tileset, apart from its contents).
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');

const cesiumDir = path.join(__dirname, 'node_modules', 'cesium', 'Build', 'Cesium');
const contentKinds = ['.glb', '.b3dm', '.json'];
const mimeTypes = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                   '.json': 'application/json', '.glb': 'model/gltf-binary', '.png': 'image/png',
                   '.jpg': 'image/jpeg', '.svg': 'image/svg+xml', '.wasm': 'application/wasm'};

function parseArguments(argv) {
  const options = {screenshot: null, timeout: 120, ownLevel: null, chromium: '/usr/bin/chromium',
                   tileset: null};
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === '--screenshot') options.screenshot = argv[++i];
    else if (argv[i] === '--timeout') options.timeout = Number(argv[++i]);
    else if (argv[i] === '--own-level') options.ownLevel = new RegExp(argv[++i]);
    else if (argv[i] === '--chromium') options.chromium = argv[++i];
    else if (!options.tileset && !argv[i].startsWith('--')) options.tileset = argv[i];
    else return null;
  }
  return options.tileset && options.timeout > 0 ? options : null;
}

const page = `<!doctype html>
<html><head><meta charset="utf-8"><link rel="icon" href="data:,">
<script>window.CESIUM_BASE_URL = '/cesium/';</script>
<script src="/cesium/Cesium.js"></script>
<link href="/cesium/Widgets/widgets.css" rel="stylesheet">
<style>html, body, #globe { margin: 0; width: 100%; height: 100%; overflow: hidden; }</style>
</head><body><div id="globe"></div></body></html>`;

// Serves the page, Cesium under /cesium/ and the tileset under /tileset/, and notes every
// tileset request in `requests` (paths relative to the tileset folder).
function serve(tilesetDir, requests) {
  const roots = {'/cesium/': cesiumDir, '/tileset/': tilesetDir};
  const server = http.createServer((request, response) => {
    const url = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    if (url === '/' || url === '/index.html') {
      response.writeHead(200, {'Content-Type': 'text/html'});
      response.end(page);
      return;
    }
    const prefix = Object.keys(roots).find((p) => url.startsWith(p));
    const relative = prefix ? path.posix.normalize(url.slice(prefix.length)) : '';
    if (!prefix || relative.startsWith('..') || path.isAbsolute(relative)) {
      response.writeHead(404);
      response.end();
      return;
    }
    if (prefix === '/tileset/') requests.push(relative);
    const file = path.join(roots[prefix], relative);
    fs.stat(file, (error, stat) => {
      if (error || !stat.isFile()) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, {
        'Content-Type': mimeTypes[path.extname(file).toLowerCase()] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Access-Control-Allow-Origin': '*'});
      fs.createReadStream(file).pipe(response);
    });
  });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

// Runs in the page: the viewer, the tileset and the views, each view's tiles noted.
const pageFunctions = () => {
  const state = {loadErrors: [], tileFailures: [], loaded: [], visible: new Map()};
  window.brindleState = state;

  const depthOf = (tile) => {
    let depth = 0;
    for (let parent = tile.parent; parent; parent = parent.parent) ++depth;
    return depth;
  };
  const urlOf = (tile) => {
    try {
      return tile.content && tile.content.url ? new URL(tile.content.url).pathname : null;
    } catch (error) {
      return null;
    }
  };
  // A tile whose content is another tileset hands its place to that tileset's root.
  const isLeaf = (tile) => tile.children.length === 0 && !tile.hasTilesetContent;

  window.brindleOpen = async (timeoutMs) => {
    const viewer = new Cesium.Viewer('globe', {
      baseLayer: false, baseLayerPicker: false, geocoder: false, homeButton: false,
      sceneModePicker: false, navigationHelpButton: false, animation: false, timeline: false,
      fullscreenButton: false, infoBox: false, selectionIndicator: false,
      terrainProvider: new Cesium.EllipsoidTerrainProvider(), skyBox: false,
      skyAtmosphere: false, msaaSamples: 1, orderIndependentTranslucency: false,
      contextOptions: {webgl: {preserveDrawingBuffer: true}}});
    // The globe's own tiles are no part of what is measured, and cost every frame.
    // Nor are the effects of a software renderer's every frame: they change no tile's choice.
    viewer.scene.globe.show = false;
    viewer.scene.fog.enabled = false;
    viewer.scene.highDynamicRange = false;
    viewer.scene.postProcessStages.fxaa.enabled = false;
    if (viewer.scene.sun) viewer.scene.sun.show = false;
    if (viewer.scene.moon) viewer.scene.moon.show = false;
    viewer.scene.backgroundColor = Cesium.Color.DIMGRAY;
    viewer.scene.renderError.addEventListener((scene, error) =>
      state.loadErrors.push(`render: ${error && error.message ? error.message : error}`));
    window.brindleViewer = viewer;
    let tileset;
    try {
      tileset = await Cesium.Cesium3DTileset.fromUrl('/tileset/tileset.json');
    } catch (error) {
      state.loadErrors.push(`tileset: ${error && error.message ? error.message : error}`);
      return false;
    }
    tileset.tileFailed.addEventListener((failure) =>
      state.tileFailures.push({url: failure.url, message: failure.message}));
    tileset.tileLoad.addEventListener((tile) =>
      state.loaded.push({url: urlOf(tile), depth: depthOf(tile), leaf: isLeaf(tile)}));
    tileset.tileVisible.addEventListener(
      (tile) => state.visible.set(tile, viewer.scene.frameState.frameNumber));
    viewer.scene.primitives.add(tileset);
    window.brindleTileset = tileset;
    return true;
  };

  // Resolves once all tiles the view needs are loaded and a few frames have passed since, or
  // rejects at the deadline.
  const settle = (timeoutMs) => new Promise((resolve, reject) => {
    const viewer = window.brindleViewer, tileset = window.brindleTileset;
    const started = performance.now();
    let quietFrames = 0, frames = 0;
    const check = () => {
      ++frames;
      const loading = tileset.statistics.numberOfPendingRequests +
                      tileset.statistics.numberOfTilesProcessing;
      quietFrames = tileset.tilesLoaded && loading === 0 ? quietFrames + 1 : 0;
      if (quietFrames >= 10) {
        viewer.scene.postRender.removeEventListener(check);
        resolve({ms: performance.now() - started, frames});
      } else if (performance.now() - started > timeoutMs) {
        viewer.scene.postRender.removeEventListener(check);
        reject(new Error(`tiles still loading after ${Math.round(timeoutMs / 1000)} s`));
      }
    };
    viewer.scene.postRender.addEventListener(check);
  });

  // The tiles drawn in the last frame whose box holds the point, deepest first.
  const drawnAt = (point) => {
    const frame = Math.max(...state.visible.values());
    const found = [];
    for (const [tile, seen] of state.visible) {
      if (seen !== frame) continue;
      const volume = tile.boundingVolume.boundingVolume;
      const distance = volume instanceof Cesium.OrientedBoundingBox
        ? Math.sqrt(Cesium.OrientedBoundingBox.distanceSquaredTo(volume, point))
        : Math.max(0, Cesium.Cartesian3.distance(volume.center, point) - volume.radius);
      if (distance < 0.05) found.push(tile);
    }
    return found.sort((a, b) => depthOf(b) - depthOf(a));
  };

  const describe = (tile) => tile && {url: urlOf(tile), depth: depthOf(tile), leaf: isLeaf(tile),
                                       geometricError: tile.geometricError};
  const summary = (loadedFrom, extra) => {
    const loaded = state.loaded.slice(loadedFrom);
    return Object.assign({tilesLoaded: loaded.length,
                          maxDepth: loaded.reduce((d, t) => Math.max(d, t.depth), -1),
                          leavesLoaded: loaded.filter((t) => t.leaf).length}, extra);
  };

  window.brindleWholeView = async (timeoutMs) => {
    const viewer = window.brindleViewer, tileset = window.brindleTileset;
    viewer.camera.viewBoundingSphere(tileset.boundingSphere,
      new Cesium.HeadingPitchRange(0, -Cesium.Math.PI_OVER_FOUR, 0));
    viewer.camera.lookAtTransform(Cesium.Matrix4.IDENTITY);
    const from = state.loaded.length;
    const settled = await settle(timeoutMs);
    return summary(from, {settledMs: Math.round(settled.ms), frames: settled.frames});
  };

  // Brings the camera nearer to the surface under the screen's centre until the finest tile
  // drawn there is a leaf, or no nearer tile comes.
  window.brindleCloseView = async (timeoutMs) => {
    const viewer = window.brindleViewer, scene = viewer.scene;
    const centre = new Cesium.Cartesian2(scene.canvas.clientWidth / 2,
                                         scene.canvas.clientHeight / 2);
    let point = scene.pickPositionSupported ? scene.pickPosition(centre) : undefined;
    const picked = point !== undefined;
    if (!picked) point = window.brindleTileset.boundingSphere.center;
    const from = state.loaded.length;
    const steps = [];
    let finest = drawnAt(point)[0];
    let range = finest ? finest.boundingSphere.radius * 2
                       : window.brindleTileset.boundingSphere.radius;
    for (let step = 0; step < 12; ++step) {
      // Nearly straight down, a little tilted as a user looks.
      viewer.camera.lookAt(point,
        new Cesium.HeadingPitchRange(0, -Cesium.Math.PI_OVER_TWO + 0.2, range));
      viewer.camera.lookAtTransform(Cesium.Matrix4.IDENTITY);
      const settled = await settle(timeoutMs);
      finest = drawnAt(point)[0];
      steps.push({range: Math.round(range * 100) / 100, settledMs: Math.round(settled.ms),
                  frames: settled.frames, finest: describe(finest)});
      if (!finest || isLeaf(finest)) break;
      range = Math.min(range, finest.boundingSphere.radius) / 2;
    }
    return summary(from, {pointPicked: picked, steps, finest: describe(finest),
                          reachedLeaf: Boolean(finest && isLeaf(finest))});
  };
};

async function main(argv) {
  const options = parseArguments(argv);
  if (!options) {
    console.error('usage: node view_tileset.js [--screenshot PREFIX] [--timeout SECONDS] ' +
                  '[--own-level REGEX] [--chromium PATH] TILESET_DIR');
    return 2;
  }
  for (const [what, file] of [['tileset', path.join(options.tileset, 'tileset.json')],
                              ['Cesium (scripts/web-setup.sh)', path.join(cesiumDir, 'Cesium.js')],
                              ['Chromium', options.chromium]]) {
    if (!fs.existsSync(file)) {
      console.error(`view_tileset.js: no ${what}: ${file} is missing`);
      return 2;
    }
  }
  const puppeteer = require('puppeteer-core');
  const requests = [];
  const server = await serve(path.resolve(options.tileset), requests);
  const origin = `http://127.0.0.1:${server.address().port}`;
  // WebGL from SwiftShader, the software renderer Chromium ships; /tmp rather than a small
  // /dev/shm for its shared memory, as containers have.
  const args = ['--headless=new', '--enable-unsafe-swiftshader', '--use-angle=swiftshader',
                '--ignore-gpu-blocklist', '--window-size=1920,1080', '--no-first-run',
                '--no-default-browser-check', '--disable-extensions',
                '--disable-dev-shm-usage'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const launched = Date.now();
  const browser = await puppeteer.launch({executablePath: options.chromium, headless: true,
                                          args, defaultViewport: {width: 1920, height: 1080}});
  const outside = [];
  const consoleErrors = [];
  const result = {tileset: path.resolve(options.tileset), launchedMs: Date.now() - launched};
  try {
    const tab = await browser.newPage();
    await tab.setRequestInterception(true);
    tab.on('request', (request) => {
      const url = request.url();
      if (url.startsWith(origin + '/') || url.startsWith('data:') || url.startsWith('blob:')) {
        request.continue();
      } else {
        outside.push(url);
        request.abort('blockedbyclient');
      }
    });
    tab.on('console', (message) => {
      if (message.type() === 'error') consoleErrors.push(message.text());
    });
    tab.on('pageerror', (error) => consoleErrors.push(`page error: ${error.message}`));
    const started = Date.now();
    await tab.goto(`${origin}/index.html`, {waitUntil: 'load'});
    await tab.evaluate(pageFunctions);
    const timeoutMs = options.timeout * 1000;
    const opened = await tab.evaluate((ms) => window.brindleOpen(ms), timeoutMs);
    result.openedMs = Date.now() - started;
    result.views = {};
    if (opened) {
      const contentRequests = () => requests.splice(0).filter(
        (r) => contentKinds.includes(path.extname(r).toLowerCase()));
      const views = [['whole', 'brindleWholeView'], ['close', 'brindleCloseView']];
      contentRequests(); // the tileset's own json, before any view
      for (const [name, functionName] of views) {
        let view;
        const viewStarted = Date.now();
        try {
          view = await tab.evaluate((f, ms) => window[f](ms), functionName, timeoutMs);
        } catch (error) {
          view = {timedOut: true, error: error.message};
        }
        view.wallMs = Date.now() - viewStarted;
        const asked = contentRequests();
        view.requests = asked.length;
        view.glbRequests = asked.filter((r) => !r.endsWith('.json')).length;
        if (options.ownLevel) {
          const own = asked.filter((r) => options.ownLevel.test(r));
          view.ownLevelRequests = own.filter((r) => !r.endsWith('.json')).length;
          view.ownTilesetRequests = own.length - view.ownLevelRequests;
        }
        view.requested = asked.length <= 200 ? asked : asked.slice(0, 200).concat(['...']);
        if (options.screenshot) {
          view.screenshot = `${options.screenshot}-${name}.png`;
          await tab.screenshot({path: view.screenshot});
        }
        result.views[name] = view;
        if (view.timedOut) break;
      }
    }
    const state = await tab.evaluate(() => ({loadErrors: window.brindleState.loadErrors,
                                             tileFailures: window.brindleState.tileFailures,
                                             maxDepth: window.brindleState.loaded.reduce(
                                               (d, t) => Math.max(d, t.depth), -1)}));
    Object.assign(result, state);
  } finally {
    await browser.close();
    server.close();
  }
  result.outsideRequests = outside.length;
  result.outsideUrls = outside.slice(0, 20);
  result.consoleErrors = consoleErrors;
  console.log(JSON.stringify(result, null, 1));
  return 0;
}

main(process.argv.slice(2)).then((code) => { process.exitCode = code; }, (error) => {
  console.error(`view_tileset.js: ${error.stack || error}`);
  process.exitCode = 2;
});
