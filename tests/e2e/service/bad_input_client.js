// A JScript client that tries input the service must refuse, each attempt
// printing its error number in hexadecimal (or "accepted"), then walks the
// list with Enumerator. The last line is "SCRIPT-OK" only when it ran to its end.
//   cscript //nologo bad_input_client.js LISTED OTHER-LISTED
var servers = new ActiveXObject("Tolvane.QNServers");
var alarm = new ActiveXObject("Tolvane.QNAlarm");
var server = new ActiveXObject("Tolvane.QNServer");
var listed = WScript.Arguments.Item(0), other = WScript.Arguments.Item(1);
var zero = String.fromCharCode(0);

// attempt() from attempt.js beside this script.
var files = new ActiveXObject("Scripting.FileSystemObject");
eval(files.OpenTextFile(files.BuildPath(files.GetParentFolderName(WScript.ScriptFullName),
                                        "attempt.js")).ReadAll());

attempt("address", function () { server.Address = "new" + zero + "junk"; });
attempt("password", function () { server.Password = "pw" + zero + "junk"; });
attempt("remove", function () { servers.Remove(listed + zero + "junk"); });
attempt("port", function () { alarm.ComPort = zero + "COM7"; });
attempt("rename", function () { servers.Item(listed).Address = other.toUpperCase(); });
attempt("address-cr", function () { server.Address = "srv\rforged"; });
attempt("address-lf", function () { server.Address = "srv\nforged"; });
attempt("address-tab", function () { server.Address = "srv\tforged"; });
attempt("address-256", function () { server.Address = new Array(257).join("a"); });
attempt("address-255", function () { server.Address = new Array(256).join("a"); });
attempt("state", function () { servers.Item(listed).StateCode = 0; });
attempt("own-state", function () { server.StateCode = 0; });
WScript.Echo("port " + alarm.ComPort);
for (var each = new Enumerator(servers); !each.atEnd(); each.moveNext()) {
    WScript.Echo("each " + each.item().Address);
}
WScript.Echo("count " + servers.Count + "\nSCRIPT-OK");
