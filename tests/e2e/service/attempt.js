// What the JScript test clients share, read and run by each of them: one
// attempt prints its name and "accepted", or its error number in hexadecimal.
function attempt(name, action) {
    try {
        action();
        WScript.Echo(name + " accepted");
    } catch (e) {
        WScript.Echo(name + " " + (e.number >>> 0).toString(16));
    }
}
