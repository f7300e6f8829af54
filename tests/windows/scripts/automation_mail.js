// The automation server driven late-bound from JScript: the same round trip as
// automation_mail.vbs, with new Enumerator over the attachments and try/catch for errors.
//   cscript automation_mail.js smtpHost smtpPort domain user pop3Host pop3Port password folder
// The originals are folder\originals\<name>; saved copies go to folder\jscript\<name>.
var failures = 0;
function check(ok, what) {
    WScript.Echo((ok ? "PASS " : "FAIL ") + what);
    if (!ok) failures++;
}

var args = WScript.Arguments;
var smtpHost = args.Item(0), smtpPort = parseInt(args.Item(1), 10), domain = args.Item(2), user = args.Item(3);
var popHost = args.Item(4), popPort = parseInt(args.Item(5), 10), password = args.Item(6), folder = args.Item(7);

var names = ["quoted.txt", "base64.bin", "uuencode.bin", "plain.txt"];
var encodings = [1, 2, 3, 0];
var subject = "automation jscript " + new Date().getTime();

var smtp = new ActiveXObject("TolvanMail.TolvanSMTP");
var pop3 = new ActiveXObject("TolvanMail.TolvanPOP3");
var notCreatable = ["TolvanMail.Message", "TolvanMail.Attachment", "TolvanMail.Recipients"];
for (var n = 0; n < notCreatable.length; n++) {
    var created = true;
    try { new ActiveXObject(notCreatable[n]); } catch (e) { created = false; }
    check(!created, notCreatable[n] + " cannot be created");
}

smtp.Host = smtpHost;
smtp.Port = smtpPort;
smtp.FromEmail = "wine-automation@" + domain;
smtp.Subject = subject;
smtp.MailBody = "Four attachments, one in each encoding.\r\n";
check(smtp.AddRecipients("Automation", user + "@" + domain, 1) == 0, "recipient added");
for (var i = 0; i < names.length; i++)
    check(smtp.AddAttachment(folder + "\\originals\\" + names[i], encodings[i]) == 0, "attachment " + names[i] + " added");
check(smtp.Connect() == 0, "SMTP connected: " + smtp.SMTPError);
check(smtp.Send() == 0, "message sent: " + smtp.SMTPError);
smtp.Disconnect();

pop3.Host = popHost;
pop3.Port = popPort;
pop3.Login = user;
pop3.Password = password;
pop3.CachedDirectory = folder + "\\cache\\";
pop3.InternationalText = true;  // file names as they were sent
var found = null, messages = null;
for (var tries = 0; tries < 60 && !found; tries++) {
    check(pop3.Connect() == 0, "POP3 connected: " + pop3.POP3Error);
    check(pop3.GetMessages(0) == 0, "messages fetched: " + pop3.POP3Error);
    messages = pop3.Messages;
    for (var m = 1; m <= messages.Count; m++)
        if (messages.Item(m).Subject == subject) found = messages.Item(m);
    pop3.Disconnect();
    if (!found) WScript.Sleep(500);
}
check(found != null, "the message came back");
if (!found) WScript.Quit(1);

check(messages(1).Subject == messages.Item(1).Subject, "messages(1) is the default member Item");
// The text of the message is a part too; the four files are the parts with a file name.
var saved = 0, visited = 0;
for (var parts = new Enumerator(found.Attachments); !parts.atEnd(); parts.moveNext()) {
    var part = parts.item();
    visited++;
    if (part.Filename == "") continue;
    check(part.Save(folder + "\\jscript\\" + part.Filename) == 0, "saved " + part.Filename + " (" + part.Encoding + ")");
    saved++;
}
check(visited == found.Attachments.Count, "new Enumerator visits every part (" + visited + ")");
check(saved == 4, "four files saved");

try {
    found.Attachments.Item(0);
    check(false, "an index out of range raises an error");
} catch (e) {
    check((e.number >>> 0) == 0x800A0009, "an index out of range raises 0x800A0009 (got " + (e.number >>> 0).toString(16) + ")");
    check(/out of range/i.test(e.description), "its description says so: " + e.description);
}

if (failures == 0) WScript.Echo("all passed");
WScript.Quit(failures);
