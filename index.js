'use strict';
// The QxDBAccess addon, and the asynchronous Client over it. QXDB_ADDON may
// name another build of the addon (the tests use it to run against the
// sanitizer build).
const addon = require(process.env.QXDB_ADDON || './build/Release/QxDBAccess.node');

exports.DBCore = addon.DBCore;

const { Client, ClientDriver, Watch, QxdbError } = require('./lib/client.js');
const { Stream, POLICIES } = require('./lib/stream.js');

Object.assign(exports, { Client, ClientDriver, Watch, QxdbError, Stream, POLICIES });
