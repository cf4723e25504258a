' Lists the servers, adds one, sends the alarm and reads the state.
'   cscript //nologo servers.vbs ADDRESS PASSWORD PORT
Option Explicit
Dim servers, server, added, result
Set servers = CreateObject("Tolvane.QNServers")
WScript.Echo "servers: " & servers.Count
For Each server In servers
    WScript.Echo server.Address & " port " & server.Port & " state " & server.StateCode
Next
Set added = CreateObject("Tolvane.QNServer")
added.Address = WScript.Arguments(0)
added.Password = WScript.Arguments(1)
added.Port = CLng(WScript.Arguments(2))
servers.Add added
WScript.Echo "servers after Add: " & servers.Count
On Error Resume Next
servers.SendAlarm
result = Err.Number
On Error GoTo 0
WScript.Echo "SendAlarm: " & result
WScript.Echo "State: " & servers.State
Set added = Nothing
Set server = Nothing
Set servers = Nothing
WScript.Echo "done"
