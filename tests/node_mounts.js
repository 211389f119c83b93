// SPDX-License-Identifier: MIT
// Linked into the wasm32 test suites (--pre-js): the host's directories appear at their own paths
// through NODEFS, and the working directory is node's. Emscripten keeps its own /dev, whose
// standard streams can be duplicated, as GoogleTest's output capture needs; the programs' raw
// access to the host (NODERAWFS) cannot duplicate them.
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function() {
  var fs = require('fs');
  fs.readdirSync('/').forEach(function(name) {
    var path = '/' + name;
    if (name === 'dev' || name === 'proc' || !fs.statSync(path).isDirectory()) {
      return;
    }
    if (!FS.analyzePath(path).exists) {
      FS.mkdir(path);
    }
    FS.mount(NODEFS, {root: path}, path);
  });
  FS.chdir(process.cwd());
});
