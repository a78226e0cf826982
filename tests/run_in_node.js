// Runs a QtTest program built for the browser under node; its status is the process's.
// Usage: node run_in_node.js PROGRAM.js
const path = require("path");
const fs = require("fs");
// Later Qt asks the browser's navigator for the system's language, which node 20 lacks.
globalThis.navigator ??= { language: "bg", languages: ["bg"] };
const program = path.resolve(process.argv[2]);
// The module is handed its code: emscripten 3.1.6 would fetch() a path, which node refuses.
require(program)({
  arguments: [],
  wasmBinary: fs.readFileSync(program.replace(/\.js$/, ".wasm")),
}).then((module) => module.callMain?.([])); // later Qt leaves the start of main() to its loader
