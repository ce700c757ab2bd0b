#!/usr/bin/env node
// Prints the sources of the Node addon for binding.gyp: the core's, read
// from src/CMakeLists.txt so that CMake and node-gyp compile the same files,
// and the addon's own.
'use strict';
const fs = require('fs');
const path = require('path');

const root = path.join(__dirname, '..');
const text = fs.readFileSync(path.join(root, 'src', 'CMakeLists.txt'), 'utf8');
const list = (re) => re.exec(text)[1].split(/\s+/).filter(Boolean).map((s) => 'src/' + s);
const core = list(/add_library\(qxdbcore STATIC([^)]*)\)/);
const addon = list(/add_library\(QxDBAccess_node MODULE([^)]*)\)/);
process.stdout.write(addon.concat(core).join('\n') + '\n');
