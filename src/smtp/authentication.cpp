// SMTP authentication rules: the EHLO keywords, the mechanism chosen, and when a secret
// may cross the connection (RFC 5321 4.1.1.1, RFC 4954).
#include "smtp/authentication.h"

#include <algorithm>
#include <utility>

#include "codec/base64.h"

namespace tolmail::smtp {

namespace {

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
    return upper;
}

std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(' ', at), text.size());
        if (end > at)
            words.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

bool Offers(const Extensions& offered, std::string_view mechanism)
{
    return std::find(offered.authMechanisms.begin(), offered.authMechanisms.end(), mechanism) !=
           offered.authMechanisms.end();
}

} // namespace

Extensions ParseEhloReply(std::string_view reply)
{
    Extensions found;
    bool first = true;
    while (!reply.empty()) {
        const size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (std::exchange(first, false) || line.size() < 5)
            continue;
        std::vector<std::string> words = Words(UpperAscii(line.substr(4)));
        if (words.empty())
            continue;
        const std::string keyword = words.front();
        if (keyword == "AUTH" || keyword.starts_with("AUTH=")) {
            if (keyword != "AUTH")
                words.front() = keyword.substr(5);
            else
                words.erase(words.begin());
            for (std::string& m : words)
                if (!Offers(found, m))
                    found.authMechanisms.push_back(std::move(m));
        } else if (keyword == "STARTTLS") {
            found.startTls = true;
        } else if (keyword == "SIZE" && words.size() > 1) {
            const std::string& figure = words[1];
            if (figure.find_first_not_of("0123456789") == std::string::npos && figure.size() < 20)
                found.sizeLimit = std::stoull(figure);
        }
    }
    return found;
}

Mechanism ChooseMechanism(const Extensions& offered, bool haveToken, bool havePassword)
{
    if (haveToken && Offers(offered, "XOAUTH2"))
        return Mechanism::XOAuth2;
    if (haveToken && !havePassword)
        return Mechanism::None;  // a token is no password: PLAIN would send the wrong secret
    if (Offers(offered, "PLAIN"))
        return Mechanism::Plain;
    if (Offers(offered, "LOGIN"))
        return Mechanism::Login;
    return Mechanism::None;
}

std::string SaslBase64(std::string_view data)
{
    std::string encoded = codec::Base64Encode(data);
    std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
    return encoded;
}

} // namespace tolmail::smtp
