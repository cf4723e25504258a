' A script client of the Tolvane service, run by cscript (scripts/run.sh lists
' its demonstration servers with it; the end-to-end tests drive it): carries
' out the commands on its command line in order and prints what it sees, one
' fact a line. The last line is "SCRIPT-OK" only when every command ran: a
' runtime error ends a script silently, with exit code 0.
'
'   cscript //nologo servers_client.vbs COMMAND [ARGUMENTS] ...
'
'   add ADDRESS PASSWORD PORT    list a new server (a QNServer made in the service)
'   try ADDRESS PASSWORD PORT    TryConnect: check a new server, list it when reachable;
'                                prints whether the address is listed afterwards
'   list                         count, then each server by position and by For Each
'   each                         For Each alone: each server, then how many there were
'   find ADDRESS                 Item by address
'   wait-state N SECONDS         poll State until it is N (a script cannot sleep)
'   state                        the aggregate state
'   refresh                      RefreshState: check every server now
'   alarm                        SendAlarm; prints its error number (0 when all took it)
'   remove ADDRESS               Remove
'   port NAME                    watch the red button on serial port NAME (ComPort of QNAlarm)
Option Explicit

Dim servers, alarm, args, i, k, server, deadline, polls, listed

Sub Describe(prefix, server)
    WScript.Echo prefix & " " & server.Address & " " & server.Port & " " & server.StateCode
End Sub

Set servers = CreateObject("Tolvane.QNServers")
Set args = WScript.Arguments
i = 0
Do While i < args.Count
    Select Case args(i)
    Case "add"
        Set server = CreateObject("Tolvane.QNServer")
        server.Address = args(i + 1)
        server.Password = args(i + 2)
        server.Port = CLng(args(i + 3))
        servers.Add server
        Set server = Nothing
        WScript.Echo "added " & args(i + 1)
        i = i + 4
    Case "try"
        Set server = CreateObject("Tolvane.QNServer")
        server.Address = args(i + 1)
        server.Password = args(i + 2)
        server.Port = CLng(args(i + 3))
        ' Its result is a positive number when the check failed, which a
        ' script never sees: ask the list instead.
        servers.TryConnect server
        Set server = Nothing
        On Error Resume Next
        listed = IsObject(servers.Item(args(i + 1)))
        If Err.Number <> 0 Then listed = False
        On Error GoTo 0
        If listed Then
            WScript.Echo "try " & args(i + 1) & " listed"
        Else
            WScript.Echo "try " & args(i + 1) & " unlisted"
        End If
        i = i + 4
    Case "each"
        k = 0
        For Each server In servers
            Describe "each", server
            k = k + 1
        Next
        Set server = Nothing
        WScript.Echo "enumerated " & k
        i = i + 1
    Case "list"
        WScript.Echo "count " & servers.Count
        For k = 0 To servers.Count - 1
            Describe "item " & k, servers.Item(k)
        Next
        For Each server In servers
            Describe "each", server
        Next
        Set server = Nothing
        i = i + 1
    Case "find"
        Describe "found", servers.Item(args(i + 1))
        i = i + 2
    Case "wait-state"
        deadline = Timer + CLng(args(i + 2))
        polls = 0
        Do While servers.State <> CLng(args(i + 1)) And Timer < deadline And polls < 100000
            polls = polls + 1
        Loop
        WScript.Echo "state " & servers.State
        i = i + 3
    Case "refresh"
        servers.RefreshState
        WScript.Echo "refreshed"
        i = i + 1
    Case "state"
        WScript.Echo "state " & servers.State
        i = i + 1
    Case "alarm"
        On Error Resume Next
        servers.SendAlarm
        WScript.Echo "alarm " & Err.Number
        On Error GoTo 0
        i = i + 1
    Case "remove"
        servers.Remove args(i + 1)
        WScript.Echo "removed " & args(i + 1)
        i = i + 2
    Case "port"
        Set alarm = CreateObject("Tolvane.QNAlarm")
        alarm.ComPort = args(i + 1)
        WScript.Echo "port " & alarm.ComPort
        Set alarm = Nothing
        i = i + 2
    Case Else
        WScript.Echo "unknown command " & args(i)
        WScript.Quit 2
    End Select
Loop

Set args = Nothing
Set servers = Nothing
WScript.Echo "SCRIPT-OK"
