// Writes a small tileset by hand from a sample block (brindle-sample --paged-root
// --written-levels N): each tile's files root.osgb, root_L1.osgb, ... become a chain of tiles,
// each file's own level converted by brindle-glb, the glb's root node moved to the content's
// centre, boxes from the glb's own bounds, an east-north-up root transform at a fixed place.
// A scaffold for the viewer while the exporter cannot write tilesets yet; it has no top levels.
// Usage: node hand_tileset.js BRINDLE_GLB BLOCK_DIR OUT_DIR
'use strict';
const fs = require('fs');
const path = require('path');
const {execFileSync} = require('child_process');

function readGlb(file) {
  const bytes = fs.readFileSync(file);
  const jsonLength = bytes.readUInt32LE(12);
  return {json: JSON.parse(bytes.subarray(20, 20 + jsonLength).toString('utf8')),
          rest: bytes.subarray(20 + jsonLength)};
}

function writeGlb(file, json, rest) {
  let text = Buffer.from(JSON.stringify(json), 'utf8');
  const padded = Buffer.alloc((text.length + 3) & ~3, 0x20);
  text.copy(padded);
  const header = Buffer.alloc(20);
  header.writeUInt32LE(0x46546c67, 0);
  header.writeUInt32LE(2, 4);
  header.writeUInt32LE(20 + padded.length + rest.length, 8);
  header.writeUInt32LE(padded.length, 12);
  header.writeUInt32LE(0x4e4f534a, 16);
  fs.writeFileSync(file, Buffer.concat([header, padded, rest]));
}

// Converts one file; returns its box (min, max) in block offsets, z up.
function convert(brindleGlb, osgb, glb) {
  const out = execFileSync(brindleGlb, [osgb, glb], {encoding: 'utf8'});
  const centre = out.match(/^centre (\S+) (\S+) (\S+)$/m).slice(1).map(Number);
  const {json, rest} = readGlb(glb);
  const translation = [centre[0], centre[2], -centre[1]];
  for (const index of json.scenes[0].nodes) json.nodes[index].translation = translation;
  writeGlb(glb, json, rest);
  const min = [Infinity, Infinity, Infinity];
  const max = [-Infinity, -Infinity, -Infinity];
  for (const mesh of json.meshes) {
    for (const primitive of mesh.primitives) {
      const accessor = json.accessors[primitive.attributes.POSITION];
      // glTF y up: (x, y, z) is (x, -z, y) in the block's z-up offsets.
      const lo = [accessor.min[0], -accessor.max[2], accessor.min[1]];
      const hi = [accessor.max[0], -accessor.min[2], accessor.max[1]];
      for (let i = 0; i < 3; ++i) {
        min[i] = Math.min(min[i], lo[i] + centre[i]);
        max[i] = Math.max(max[i], hi[i] + centre[i]);
      }
    }
  }
  return {min, max};
}

function boxOf({min, max}) {
  const c = [0, 1, 2].map((i) => (min[i] + max[i]) / 2);
  const h = [0, 1, 2].map((i) => Math.max((max[i] - min[i]) / 2, 0.01));
  return [c[0], c[1], c[2], h[0], 0, 0, 0, h[1], 0, 0, 0, h[2]];
}

function union(a, b) {
  return {min: a.min.map((v, i) => Math.min(v, b.min[i])),
          max: a.max.map((v, i) => Math.max(v, b.max[i]))};
}

// Column-major east-north-up frame at a longitude, latitude and ellipsoidal height, WGS 84.
function eastNorthUpToEarth(lonDeg, latDeg, height) {
  const a = 6378137, e2 = 6.69437999014e-3;
  const lon = lonDeg * Math.PI / 180, lat = latDeg * Math.PI / 180;
  const n = a / Math.sqrt(1 - e2 * Math.sin(lat) ** 2);
  const origin = [(n + height) * Math.cos(lat) * Math.cos(lon),
                  (n + height) * Math.cos(lat) * Math.sin(lon),
                  (n * (1 - e2) + height) * Math.sin(lat)];
  const east = [-Math.sin(lon), Math.cos(lon), 0];
  const north = [-Math.sin(lat) * Math.cos(lon), -Math.sin(lat) * Math.sin(lon), Math.cos(lat)];
  const up = [Math.cos(lat) * Math.cos(lon), Math.cos(lat) * Math.sin(lon), Math.sin(lat)];
  return [...east, 0, ...north, 0, ...up, 0, ...origin, 1];
}

function main([brindleGlb, blockDir, outDir]) {
  if (!outDir) {
    console.error('usage: node hand_tileset.js BRINDLE_GLB BLOCK_DIR OUT_DIR');
    return 2;
  }
  fs.mkdirSync(outDir, {recursive: true});
  const tiles = [];
  let all = null;
  for (const name of fs.readdirSync(blockDir).filter((n) => n.startsWith('Tile_')).sort()) {
    const levels = [];
    for (let level = 0; ; ++level) {
      const osgb = path.join(blockDir, name, level === 0 ? 'root.osgb' : `root_L${level}.osgb`);
      if (!fs.existsSync(osgb)) break;
      const uri = `${name}/${level === 0 ? 'root' : `root_L${level}`}.glb`;
      fs.mkdirSync(path.join(outDir, name), {recursive: true});
      levels.push({uri, bounds: convert(brindleGlb, osgb, path.join(outDir, uri))});
    }
    if (levels.length === 0) continue;
    // Finest first, so that each level's box holds its children's.
    let child = null;
    for (let level = levels.length - 1; level >= 0; --level) {
      const bounds = child ? union(levels[level].bounds, child.bounds) : levels[level].bounds;
      const tile = {boundingVolume: {box: boxOf(bounds)},
                    geometricError: level === levels.length - 1 ? 0 : 16 / 2 ** level,
                    refine: 'REPLACE', content: {uri: levels[level].uri}};
      if (child) tile.children = [child.tile];
      child = {tile, bounds};
    }
    tiles.push(child.tile);
    all = all ? union(all, child.bounds) : child.bounds;
  }
  const tileset = {
    asset: {version: '1.1'},
    geometricError: 500,
    root: {transform: eastNorthUpToEarth(114.1, 30.7, 12.5), boundingVolume: {box: boxOf(all)},
           geometricError: 100, refine: 'REPLACE', children: tiles},
  };
  fs.writeFileSync(path.join(outDir, 'tileset.json'), JSON.stringify(tileset, null, 1));
  console.log(`${outDir}: ${tiles.length} tiles`);
  return 0;
}

process.exitCode = main(process.argv.slice(2));
