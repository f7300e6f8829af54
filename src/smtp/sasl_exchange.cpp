// TolvanSMTP's log-in after EHLO (RFC 4954): the mechanism chosen, the secret's checks,
// and each mechanism's exchange. Every buffer that held the secret is wiped after use.
#include "smtp/authentication.h"
#include "smtp/smtp_impl.h"
#include "socket/dialogue.h"

namespace tolmail {

namespace {

using socket::FirstRead;
using socket::WipeText;

constexpr const char* kMasked = "********";

std::string Listed(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

// `head` and the credentials in base64, the credentials wiped: the line is sized before
// it is filled, as a string that grows frees its earlier copy unwiped.
std::string SecretLine(std::string_view head, std::string& credentials)
{
    std::string encoded = smtp::SaslBase64(credentials);
    WipeText(credentials);
    std::string line;
    line.reserve(head.size() + encoded.size());
    line.append(head).append(encoded);
    WipeText(encoded);
    return line;
}

} // namespace

int32_t TolvanSMTP::Impl::authenticate(const smtp::Extensions& offered)
{
    const smtp::Mechanism mechanism =
        smtp::ChooseMechanism(offered, !oauth2Token.empty(), !password.empty());
    std::string refusal;
    const bool encrypted = socket->Encrypted();
    if (mechanism == smtp::Mechanism::None)
        refusal = offered.authMechanisms.empty()
                      ? std::string("The server offers no authentication")
                      : "The server offers no authentication mechanism usable with the credentials given (it offers " +
                            Listed(offered.authMechanisms) + ")";
    else if (!smtp::MaySendSecret(encrypted, socket::PeerAddress(*socket), allowPasswordWithoutTls))
        refusal = "The password was not sent: the connection is not encrypted and the server is on another "
                  "machine (Security or AllowPasswordWithoutTLS allows it)";
    if (!refusal.empty()) {
        smtpError = refusal;
        socket->CloseSocket();
        return smtp_result::AuthUnavailable;
    }

    bool accepted = false;
    switch (mechanism) {
    case smtp::Mechanism::XOAuth2: accepted = authXOAuth2(); break;
    case smtp::Mechanism::Plain: accepted = authPlain(); break;
    case smtp::Mechanism::Login: accepted = authLogin(); break;
    case smtp::Mechanism::None: break;
    }
    if (!accepted) {
        // SMTPError holds the server's reply (or why none came); a session that was
        // refused is not used for mail.
        socket->CloseSocket();
        return smtp_result::AuthRefused;
    }
    return smtp_result::Ok;
}

bool TolvanSMTP::Impl::authPlain()
{
    // RFC 4616: no authorization identity, then the user and the password, NUL before each.
    std::string credentials = '\0' + userName + '\0' + password;
    std::string line = SecretLine("AUTH PLAIN ", credentials);
    dialogue.command(line, std::string("AUTH PLAIN ") + kMasked);
    WipeText(line);
    dialogue.readReply(FirstRead::Line);
    return CheckReply(6);
}

bool TolvanSMTP::Impl::authLogin()
{
    dialogue.command("AUTH LOGIN");
    dialogue.readReply(FirstRead::Line);
    if (!CheckReply(5))
        return false;
    dialogue.command(smtp::SaslBase64(userName));
    dialogue.readReply(FirstRead::Line);
    if (!CheckReply(5))
        return false;
    std::string secret = smtp::SaslBase64(password);
    dialogue.command(secret, kMasked);
    WipeText(secret);
    dialogue.readReply(FirstRead::Line);
    return CheckReply(6);
}

bool TolvanSMTP::Impl::authXOAuth2()
{
    std::string credentials;
    credentials.reserve(userName.size() + oauth2Token.size() + 20);
    credentials.append("user=").append(userName).append("\x01" "auth=Bearer ").append(oauth2Token).append("\x01\x01");
    std::string line = SecretLine("AUTH XOAUTH2 ", credentials);
    dialogue.command(line, std::string("AUTH XOAUTH2 ") + kMasked);
    WipeText(line);
    dialogue.readReply(FirstRead::Line);
    // A refused token is answered with a challenge holding the details; the exchange
    // ends with an empty line, and the server's final reply says no.
    if (dialogue.reply().starts_with("334")) {
        dialogue.command("");
        dialogue.readReply(FirstRead::Line);
    }
    return CheckReply(6);
}

} // namespace tolmail
