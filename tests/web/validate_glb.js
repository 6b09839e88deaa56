// Validates binary glTF files with the Khronos validator. Prints one line a file with its
// counts, then each error and warning; exits 1 when any file has an error or a warning not
// named in --allow, 2 when a file cannot be read or a folder holds none. A folder stands for
// the .glb and .b3dm files in it; of a .b3dm, the glb inside is validated, found from its own
// header (a b3dm whose header does not add up is an error).
// Usage: node validate_glb.js [--allow CODE,CODE] FILE|FOLDER...
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

// The glb a Batched 3D Model holds: after the 28-byte header and the four tables whose lengths
// it gives, to the length it gives; null when those do not add up.
function glbInB3dm(bytes) {
  if (bytes.length < 28 || Buffer.from(bytes.subarray(0, 4)).toString('latin1') !== 'b3dm') {
    return null;
  }
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const word = (at) => view.getUint32(at, true);
  if (word(4) !== 1 || word(8) !== bytes.length) return null;
  const start = 28 + word(12) + word(16) + word(20) + word(24);
  return start <= bytes.length ? bytes.subarray(start) : null;
}

async function main(argv) {
  let allowed = new Set();
  const files = [];
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === '--allow') allowed = new Set(argv[++i].split(','));
    else if (fs.statSync(argv[i], {throwIfNoEntry: false})?.isDirectory()) {
      const found = fs.readdirSync(argv[i])
                        .filter((name) => name.endsWith('.glb') || name.endsWith('.b3dm')).sort();
      if (found.length === 0) {
        console.error(`${argv[i]}: no .glb or .b3dm file`);
        return 2;
      }
      files.push(...found.map((name) => path.join(argv[i], name)));
    } else files.push(argv[i]);
  }
  if (files.length === 0) {
    console.error('usage: node validate_glb.js [--allow CODE,CODE] FILE|FOLDER...');
    return 2;
  }
  let failed = false;
  for (const file of files) {
    let bytes;
    try {
      bytes = new Uint8Array(fs.readFileSync(file));
    } catch (error) {
      console.error(`${file}: ${error.message}`);
      return 2;
    }
    if (file.endsWith('.b3dm')) {
      bytes = glbInB3dm(bytes);
      if (!bytes) {
        console.log(`${file}: error: its header does not add up to a b3dm`);
        failed = true;
        continue;
      }
    }
    // Content embeds everything: an external resource is an error of its own.
    const report = await validator.validateBytes(bytes, {
      uri: file,
      maxIssues: 100,
      externalResourceFunction: (uri) => Promise.reject(new Error(`external resource ${uri}`)),
    });
    const issues = report.issues;
    console.log(`${file}: errors ${issues.numErrors} warnings ${issues.numWarnings}` +
                ` infos ${issues.numInfos} hints ${issues.numHints}`);
    for (const message of issues.messages) {
      if (message.severity > 1) continue;
      const kind = message.severity === 0 ? 'error' : 'warning';
      const counted = message.severity === 0 || !allowed.has(message.code);
      console.log(`  ${kind} ${message.code} ${message.pointer || ''}: ${message.message}` +
                  (counted ? '' : ' (allowed)'));
      if (counted) failed = true;
    }
  }
  return failed ? 1 : 0;
}

main(process.argv.slice(2)).then((code) => process.exit(code), (error) => {
  console.error(error);
  process.exit(2);
});
