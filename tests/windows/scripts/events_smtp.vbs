' OnSMTPEvent reaches a VBScript procedure, with the component's texts, tasks and
' numbers in order, while it sends one message.
'   events_smtp.vbs HOST PORT DOMAIN USER
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

Dim host : host = WScript.Arguments(0)
Dim seen : seen = ""
Dim typesRight : typesRight = True
Sub smtp_OnSMTPEvent(paramtext, task, p1, p2)
    seen = seen & task & "|" & paramtext & "|" & p1 & "|" & p2 & vbLf
    typesRight = typesRight And VarType(paramtext) = vbString And VarType(task) = vbLong _
        And VarType(p1) = vbLong And VarType(p2) = vbLong
End Sub

Dim smtp : Set smtp = WScript.CreateObject("TolvanMail.TolvanSMTP", "smtp_")
smtp.Host = host
smtp.Port = CLng(WScript.Arguments(1))
smtp.TimeOut = 30
smtp.FromEmail = "wine-events@" & WScript.Arguments(2)
smtp.Subject = "events from a script under Wine"
smtp.MailBody = "One message, to see the events." & vbCrLf
Check smtp.AddRecipients("Events", WScript.Arguments(3) & "@" & WScript.Arguments(2), 1) = 0, "recipient taken"
Check smtp.Connect() = 0, "connected: " & smtp.SMTPError
Check smtp.Send() = 0, "sent: " & smtp.SMTPError
smtp.Disconnect

Dim expected
expected = "1|CONNECT: Connecting to destination host (" & host & ")|0|0" & vbLf _
    & "2|CONNECT: Connected to " & host & "|0|0" & vbLf _
    & "10|TRANSACTION: Sending Sender and Recipients Information|0|0" & vbLf _
    & "11|TRANSACTION: Sending Mailbody & Attachments (if any)|0|0" & vbLf _
    & "12|TRANSACTION: Mailbody sent|0|0" & vbLf _
    & "4|DISCONNECT: Loging off from Host|0|0" & vbLf _
    & "6|DISCONNECT: Logoff and Disconnect gracefully|0|0" & vbLf
Check seen = expected, "the connect, send and log-off events, in order and with their texts"
If seen <> expected Then WScript.Echo "got:" & vbLf & seen
Check typesRight, "paramtext arrives as a String, task and the numbers as Longs"

' Once disconnected, the script hears nothing more: this Disconnect would say "Not Connected".
WScript.DisconnectObject smtp
seen = ""
smtp.Disconnect
Check seen = "", "no event reaches the script after DisconnectObject"

Set smtp = Nothing
WScript.Quit failures
