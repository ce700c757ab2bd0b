#!/usr/bin/env node
// npm's install step: builds build/Release/QxDBAccess.node with the node-gyp
// that npm bundles. Node's own headers are used where the system has them
// (/usr/include/node), so nothing is downloaded. "configure build" rather
// than "rebuild": a rebuild would first delete all of build/, where the
// CMake builds live too.
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');

const gyp = process.env.npm_config_node_gyp;
const args = ['configure', 'build', `--jobs=${process.env.QX_JOBS || 2}`];
if (fs.existsSync('/usr/include/node/common.gypi')) args.push('--nodedir=/usr');
const opts = { stdio: 'inherit', cwd: path.join(__dirname, '..') };
try {
  if (gyp && gyp.endsWith('.js')) execFileSync(process.execPath, [gyp, ...args], opts);
  else execFileSync(gyp || 'node-gyp', args, opts);
} catch (e) {
  process.exit(e.status || 1);
}
