' A syntax error on line 4: the runner expects status 1 and the file and line on stderr.
WScript.Echo "FAIL a script that does not compile ran"

If Then
