// A JScript client that tries every call the administrators-only setting
// guards, each printing its error number in hexadecimal (or "accepted"),
// then what everyone keeps: the password it reads, the alarm, the count.
//   cscript //nologo standard_user_client.js LISTED PORT
var servers = new ActiveXObject("Tolvane.QNServers");
var alarm = new ActiveXObject("Tolvane.QNAlarm");
var listed = WScript.Arguments.Item(0), port = WScript.Arguments.Item(1);

// attempt() from attempt.js beside this script.
var files = new ActiveXObject("Scripting.FileSystemObject");
eval(files.OpenTextFile(files.BuildPath(files.GetParentFolderName(WScript.ScriptFullName),
                                        "attempt.js")).ReadAll());

function made(address) {
    var server = new ActiveXObject("Tolvane.QNServer");
    server.Address = address;
    server.Password = "other-secret";
    server.Port = 9;
    return server;
}

attempt("add", function () { servers.Add(made("127.0.0.9")); });
attempt("try", function () { servers.TryConnect(made("127.0.0.9")); });
attempt("password", function () { servers.Item(listed).Password = "changed"; });
attempt("server-port", function () { servers.Item(listed).Port = 9; });
WScript.Echo("reads password [" + servers.Item(listed).Password + "]");
attempt("alarm", function () { servers.SendAlarm(); });
attempt("remove", function () { servers.Remove(listed); });
attempt("port", function () { alarm.ComPort = port; });
WScript.Echo("count " + servers.Count + "\nSCRIPT-OK");
