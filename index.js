'use strict';
// The QxDBAccess addon. QXDB_ADDON may name another build of it (the tests
// use it to run against the sanitizer build).
const addon = require(process.env.QXDB_ADDON || './build/Release/QxDBAccess.node');

exports.DBCore = addon.DBCore;
