' The socket events reach VBScript procedures while WScript.Sleep waits: a listener on a
' loopback port announces a connection (OnAcceptConnection), a second socket accepts it,
' both ends see OnConnect, data arrives (OnRecvData) and a close reaches the peer
' (OnCloseConnection); one of them is connected after its creation (ConnectObject). With
' an SMTP server: its greeting arrives, QUIT closes.
'   events_socket.vbs LISTEN_PORT [SMTP_HOST SMTP_PORT]
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
    If ok Then
        WScript.Echo "PASS " & what
    Else
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

' Lets the components' notifications in until `flag` is set, for 10 seconds at most.
Function Pumped(ByRef flag)
    Dim i
    For i = 1 To 500
        If flag Then Exit For
        WScript.Sleep 20
    Next
    Pumped = flag
End Function

Dim listener, server, client, accepted, serverConnected, clientConnected, clientClosed
Dim line, received, gotLine, announcedId
Dim smtp, smtpText, smtpLine, smtpClosed
accepted = 0 : serverConnected = False : clientConnected = False : clientClosed = False
received = "" : gotLine = False : smtpText = "" : smtpLine = False : smtpClosed = False

Sub listener_OnAcceptConnection(socketID)
    announcedId = socketID
    accepted = server.Accept(socketID)
    socketID = 0    ' written back by reference; the component ignores it
End Sub
Sub server_OnConnect() : serverConnected = True : End Sub
Sub server_OnRecvData(DataLen, RcvPort, RcvAddr)
    Do While server.GetlnData(line) = 0
        received = received & line
        gotLine = True
    Loop
End Sub
Sub client_OnConnect() : clientConnected = True : End Sub
Sub client_OnCloseConnection() : clientClosed = True : End Sub

Set listener = WScript.CreateObject("TolvanMail.TolvanSocket", "listener_")
Set server = WScript.CreateObject("TolvanMail.TolvanSocket")
WScript.ConnectObject server, "server_"
Set client = WScript.CreateObject("TolvanMail.TolvanSocket", "client_")
listener.LocalPort = CLng(WScript.Arguments(0))
Check listener.Listen() = 0, "listening on 127.0.0.1:" & WScript.Arguments(0)
client.Host = "127.0.0.1"
client.Port = CLng(WScript.Arguments(0))
Check client.Connect() = 0, "the client connects"
Check clientConnected, "OnConnect on the connecting side"
Check Pumped(serverConnected), "OnAcceptConnection, whose handler accepts: OnConnect on the accepting side"
Check accepted = -1 And announcedId <> 0, "Accept took the connection announced under socketID " & announcedId
' Disconnecting one object leaves the others' events alone.
WScript.DisconnectObject listener
client.senddta "hello from the client" & vbCrLf
Check Pumped(gotLine), "OnRecvData on the accepting side"
Check received = "hello from the client" & vbCrLf, "the line read in OnRecvData: " & received
server.CloseSocket
Check Pumped(clientClosed), "OnCloseConnection when the peer closes"
listener.CloseSocket

If WScript.Arguments.Count >= 3 Then
    Set smtp = WScript.CreateObject("TolvanMail.TolvanSocket", "smtp_")
    smtp.Host = WScript.Arguments(1)
    smtp.Port = CLng(WScript.Arguments(2))
    Check smtp.Connect() = 0, "connected to the SMTP server"
    Check Pumped(smtpLine), "its greeting arrives through OnRecvData"
    Check Left(smtpText, 4) = "220 ", "the greeting: " & smtpText
    smtpText = "" : smtpLine = False
    smtp.senddta "QUIT" & vbCrLf
    Check Pumped(smtpClosed), "after QUIT the server closes: OnCloseConnection"
    Check smtpLine And Left(smtpText, 4) = "221 ", "QUIT answered before the close: " & smtpText
    Set smtp = Nothing
End If

Sub smtp_OnRecvData(DataLen, RcvPort, RcvAddr)
    Do While smtp.GetlnData(line) = 0
        smtpText = smtpText & line
        smtpLine = True
    Loop
End Sub
Sub smtp_OnCloseConnection() : smtpClosed = True : End Sub

Set listener = Nothing : Set server = Nothing : Set client = Nothing
WScript.Quit failures
