' An error in an event handler ends the script: the runner expects status 1, the file and
' the handler's line on stderr, and no FAIL line.
'   events_handler_error.vbs LISTEN_PORT
Sub listener_OnAcceptConnection(socketID)
    Err.Raise 5000, "handler", "raised in the handler"
End Sub
Dim listener, client, i
Set listener = WScript.CreateObject("TolvanMail.TolvanSocket", "listener_")
Set client = CreateObject("TolvanMail.TolvanSocket")
listener.LocalPort = CLng(WScript.Arguments(0))
listener.Listen
client.Host = "127.0.0.1"
client.Port = CLng(WScript.Arguments(0))
client.Connect
For i = 1 To 500
    WScript.Sleep 20
Next
WScript.Echo "FAIL the script went on after its handler failed"
