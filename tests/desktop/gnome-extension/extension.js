// For MeterKeeper's test session only: unsafe mode lets the test call the shell's Eval (to read
// its windows) and take a screenshot.
function init() {}
function enable() {
    global.context.unsafe_mode = true;
}
function disable() {}
