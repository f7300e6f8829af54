// An uncaught runtime error on line 4: the runner expects status 1, the file and line
// on stderr, and nothing of what follows.
var nothing = null;
nothing.member();
WScript.Echo("FAIL the script went on after an uncaught error");
