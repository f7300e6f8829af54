// OnPOP3Event reaches a JScript function while the component logs in to the POP3
// server, reads the message count and logs off.
//   events_pop3.js HOST PORT USER PASSWORD
var failures = 0;
function check(ok, what) {
    WScript.Echo((ok ? "PASS " : "FAIL ") + what);
    if (!ok) failures++;
}

var seen = [];
function pop3_OnPOP3Event(paramtext, task, p1, p2) {
    seen.push(task + "|" + paramtext + "|" + p1 + "|" + p2);
}

var args = WScript.Arguments;
var pop3 = WScript.CreateObject("TolvanMail.TolvanPOP3", "pop3_");
pop3.Host = args(0);
pop3.Port = parseInt(args(1), 10);
pop3.Login = args(2);
pop3.Password = args(3);
pop3.TimeOut = 30;
check(pop3.Connect() == 0, "logged in: " + pop3.POP3Error);
check(seen.join("\n") == "1|AUTHORIZATION: Verification|0|0\n3|AUTHORIZATION: Granted|0|0",
      "Verification, then Granted, while logging in (got " + seen.join("; ") + ")");
var count = pop3.GetMessageCount();
check(typeof count == "number" && count >= 0, "the message count is a number: " + count);
seen = [];
pop3.Disconnect();
check(seen.join("\n") == "5|LOGOFF: Disconnecting|0|0\n6|LOGOFF: Clean Logoff|0|0",
      "Disconnecting, then Clean Logoff (got " + seen.join("; ") + ")");
pop3 = null;
WScript.Quit(failures);
