' The WScript members a VBScript expects of its host, without any component.
'   host_wscript.vbs first "two words" 3
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
Check args.Count = 3, "Arguments.Count counts the words after the script's name"
Check args(0) = "first" And args.Item(1) = "two words", "Arguments(i) and Item(i) give the words, quoted ones whole"
Check WScript.Arguments(2) = "3", "WScript.Arguments(i) reaches the item directly"
Dim word, joined
For Each word In args
    joined = joined & "[" & word & "]"
Next
Check joined = "[first][two words][3]", "For Each walks the arguments in order"

Dim outOfRange
On Error Resume Next
outOfRange = args(3)
Check Err.Number <> 0, "an index past the last argument is an error the script can catch"
Err.Clear
On Error GoTo 0

Check WScript.ScriptName = "host_wscript.vbs", "ScriptName is the file's name"
Check LCase(Right(WScript.ScriptFullName, 17)) = "\host_wscript.vbs", "ScriptFullName is its whole path"

Dim started : started = Timer
WScript.Sleep 300
Check Timer - started >= 0.25, "Sleep waits"

WScript.Echo "echo:", 1, True, Null, "end"
WScript.Quit failures
