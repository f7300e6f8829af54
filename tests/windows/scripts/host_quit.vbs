' Quit ends the script at once with its code, also from inside a procedure and past
' On Error Resume Next. The runner expects status 5 and no FAIL line.
Sub Leave
    On Error Resume Next
    WScript.Quit 5
    WScript.Echo "FAIL the procedure went on after Quit"
End Sub
Leave
WScript.Echo "FAIL the script went on after Quit"
