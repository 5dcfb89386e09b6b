// The engine's whole generated script runs inside this function, so that the
// page can start a second copy in a worker from the function's own text: a
// page opened from disk may not load a worker from a file.
function BoolconvEngineScript() {
// The WebAssembly is in the script as a data: address, which the generated
// code would fetch; without fetch it decodes it at once, in far less time.
const fetch = undefined;
