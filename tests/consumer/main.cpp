// Sends one message the way a host program would, through the installed headers and
// library only, to the SMTP server given by TOLMAIL_SMTP_HOST / TOLMAIL_SMTP_PORT.
//
//   consumer <recipient address>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tolmail/TolvanSMTP.h>
#include <tolmail/smtp_codes.h>

namespace {

std::string Env(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <recipient address>\n", argv[0]);
        return 2;
    }
    auto smtp = tolmail::TolvanSMTP::Create();
    smtp->Host(Env("TOLMAIL_SMTP_HOST", "127.0.0.1"));
    smtp->Port(static_cast<int16_t>(std::stoi(Env("TOLMAIL_SMTP_PORT", "25"))));
    smtp->TimeOut(30);
    smtp->FromEmail("consumer@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test"));
    smtp->Subject("Sent by a program built against the installed library");
    smtp->MailBody("Version " + smtp->Version() + ".\r\n");
    using namespace tolmail;
    int32_t result = smtp->AddRecipients("Consumer", argv[1], 1);
    if (result == smtp_result::Ok)
        result = smtp->Connect();
    if (result == smtp_result::Ok)
        result = smtp->Send();
    smtp->Disconnect();
    std::printf("result %d, SMTPError \"%s\"\n", static_cast<int>(result), smtp->SMTPError().c_str());
    return result == smtp_result::Ok ? 0 : 1;
}
