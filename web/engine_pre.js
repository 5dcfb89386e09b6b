// The engine's whole generated script runs inside this function, so that the
// page can start a second copy in a worker from the function's own text: a
// page opened from disk may not load a worker from a file.
function BoolconvEngineScript() {
// The WebAssembly is in the script as a data: address, which the generated
// code would fetch; without fetch it decodes it at once, in far less time.
const fetch = undefined;
// The generated code instantiates the module asynchronously, which hands its
// compilation to another thread; the module is small enough to compile at
// once where it is, and that brings the first result 30 ms sooner. A browser
// that refuses to compile here gets the asynchronous way.
const WebAssembly = Object.assign(Object.create(globalThis.WebAssembly), {
  instantiate(bytes, imports) {
    let module;
    try {
      module = new globalThis.WebAssembly.Module(bytes);
    } catch (error) {
      return globalThis.WebAssembly.instantiate(bytes, imports);
    }
    return Promise.resolve({module, instance: new globalThis.WebAssembly.Instance(module, imports)});
  },
});
