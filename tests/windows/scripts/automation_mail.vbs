' The automation server driven late-bound from VBScript: creation by ProgID, a message with
' one attachment in each encoding sent through the test SMTP server and fetched back from
' the POP3 server, the default member, For Each, Save, and the errors a script sees.
'   cscript automation_mail.vbs smtpHost smtpPort domain user pop3Host pop3Port password folder
' The originals are folder\originals\<name>; saved copies go to folder\vbscript\<name>.
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

Dim args : Set args = WScript.Arguments
Dim smtpHost, smtpPort, domain, user, popHost, popPort, password, folder
smtpHost = args(0) : smtpPort = CInt(args(1)) : domain = args(2) : user = args(3)
popHost = args(4) : popPort = CInt(args(5)) : password = args(6) : folder = args(7)

Dim names : names = Array("quoted.txt", "base64.bin", "uuencode.bin", "plain.txt")
Dim encodings : encodings = Array(1, 2, 3, 0)
Dim subject : subject = "automation vbscript " & Timer

' Only the three components can be created; the model's objects come from them.
Dim smtp, pop3, sock
Set smtp = CreateObject("TolvanMail.TolvanSMTP")
Set pop3 = CreateObject("TolvanMail.TolvanPOP3")
Set sock = CreateObject("TolvanMail.TolvanSocket")
Check TypeName(sock) = "_TolvanSocket", "TolvanSocket created by ProgID"
Dim notCreatable, thing
For Each notCreatable In Array("TolvanMail.Message", "TolvanMail.Attachments", "TolvanMail.Messages")
    On Error Resume Next
    Set thing = CreateObject(notCreatable)
    Check Err.Number <> 0, notCreatable & " cannot be created"
    Err.Clear
    On Error GoTo 0
Next

smtp.Host = smtpHost
smtp.Port = smtpPort
smtp.FromEmail = "wine-automation@" & domain
smtp.Subject = subject
smtp.MailBody = "Four attachments, one in each encoding." & vbCrLf
Check smtp.AddRecipients("Automation", user & "@" & domain, 1) = 0, "recipient added"
Dim i
For i = 0 To 3
    Check smtp.AddAttachment(folder & "\originals\" & names(i), encodings(i)) = 0, "attachment " & names(i) & " added"
Next
Check smtp.CountAttachment = 4, "four attachments counted"
Check smtp.Connect() = 0, "SMTP connected: " & smtp.SMTPError
Check smtp.Send() = 0, "message sent: " & smtp.SMTPError
smtp.Disconnect

' The server delivers in the background: ask until the message is there.
pop3.Host = popHost
pop3.Port = popPort
pop3.Login = user
pop3.Password = password
pop3.CachedDirectory = folder & "\cache\"
' File names as they were sent, not in upper case.
pop3.InternationalText = True
Dim found, tries, messages, candidate
Set found = Nothing
For tries = 1 To 60
    Check pop3.Connect() = 0, "POP3 connected: " & pop3.POP3Error
    Check pop3.GetMessages(0) = 0, "messages fetched: " & pop3.POP3Error
    Set messages = pop3.Messages
    For i = 1 To messages.Count
        Set candidate = messages(i)
        If candidate.Subject = subject Then Set found = candidate
    Next
    pop3.Disconnect
    If Not found Is Nothing Then Exit For
    WScript.Sleep 500
Next
Check Not found Is Nothing, "the message came back"
If found Is Nothing Then WScript.Quit 1

Check messages(1).Subject = messages.Item(1).Subject, "Messages(1) is the default member Item"
' The text of the message is a part too; the four files are the parts with a file name.
Dim part, saved, visited : saved = 0 : visited = 0
For Each part In found.Attachments
    visited = visited + 1
    If part.Filename <> "" Then
        Check part.Save(folder & "\vbscript\" & part.Filename) = 0, "saved " & part.Filename & " (" & part.Encoding & ")"
        saved = saved + 1
    End If
Next
Check visited = found.Attachments.Count, "For Each visits every part (" & visited & ")"
Check saved = 4, "four files saved"

On Error Resume Next
Set part = found.Attachments(found.Attachments.Count + 1)
Check Err.Number = 9, "an index out of range raises error 9 (got " & Err.Number & ")"
Check InStr(1, Err.Description, "out of range", vbTextCompare) > 0, "its description says so: " & Err.Description
Check Err.Source = "TolvanMail.Attachments", "its source is the collection: " & Err.Source
Err.Clear
Set part = messages("no such key")
Check Err.Number <> 0 And Len(Err.Description) > 0, "an unknown key raises an error with a text: " & Err.Description
Err.Clear
On Error GoTo 0

If failures = 0 Then WScript.Echo "all passed"
WScript.Quit failures
