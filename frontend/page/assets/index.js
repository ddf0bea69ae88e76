// Placeholder page: installs the receiver the plug-in calls, says "ready" and polls "tick",
// and loads the tools module so the whole serving path is exercised.
const status = document.getElementById("status");
const post = (message) => window.ipc?.postMessage(JSON.stringify(message));

window.__qlPlugin = {
  receive(message) {
    if (message.type === "init") status.textContent = `Table: ${message.name}`;
    if (message.type === "error") status.textContent = message.message;
  },
};

WebAssembly.instantiateStreaming(fetch("/assets/tools.wasm")).catch(() => {});
post({ type: "ready" });
setInterval(() => post({ type: "tick" }), 33);
