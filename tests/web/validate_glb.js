// Validates binary glTF files with the Khronos validator. Prints one line a file with its
// counts, then each error and warning; exits 1 when any file has an error or a warning not
// named in --allow, 2 when a file cannot be read or a folder holds none. A folder stands for
// the .glb files in it.
// Usage: node validate_glb.js [--allow CODE,CODE] FILE|FOLDER...
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function main(argv) {
  let allowed = new Set();
  const files = [];
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === '--allow') allowed = new Set(argv[++i].split(','));
    else if (fs.statSync(argv[i], {throwIfNoEntry: false})?.isDirectory()) {
      const found = fs.readdirSync(argv[i]).filter((name) => name.endsWith('.glb')).sort();
      if (found.length === 0) {
        console.error(`${argv[i]}: no .glb file`);
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
