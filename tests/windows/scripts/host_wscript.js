// The WScript members a JScript expects of its host, without any component.
//   host_wscript.js first "two words" 3
var failures = 0;
function check(ok, what) {
    WScript.Echo((ok ? "PASS " : "FAIL ") + what);
    if (!ok) failures++;
}

var args = WScript.Arguments;
check(args.length == 3 && args.Count() == 3, "length and Count() count the arguments");
check(args(0) == "first" && args.Item(1) == "two words", "args(i) and Item(i) give the words");
var joined = "";
for (var e = new Enumerator(args); !e.atEnd(); e.moveNext()) joined += "[" + e.item() + "]";
check(joined == "[first][two words][3]", "an Enumerator walks the arguments in order");
var caught = false;
try { args(7); } catch (error) { caught = true; }
check(caught, "an index past the last argument throws");
check(WScript.ScriptName == "host_wscript.js", "ScriptName is the file's name");

var started = new Date().getTime();
WScript.Sleep(300);
check(new Date().getTime() - started >= 250, "Sleep waits");

function quitFromInside() { WScript.Quit(failures); }
quitFromInside();
WScript.Echo("FAIL Quit from a function ends the script");
