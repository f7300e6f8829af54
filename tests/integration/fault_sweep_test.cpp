// Fault sweeps against the real servers: TolvanPOP3 and TolvanSMTP talk to Dovecot and
// Postfix through a proxy that cuts, resets, stalls, delays or splits the stream at
// offsets across a multipart RETR and a DATA transfer. Whatever the fault, a message is
// deleted at the server only after it was saved whole, and a short message is never
// reported as retrieved or sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "support/fault_proxy.h"
#include "support/servers.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSMTP.h"

namespace tolmail::testing {
namespace {

namespace fs = std::filesystem;
using faultproxy::Action;
using faultproxy::Plan;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kUser = "faults";
constexpr const char* kMultipartId = "<sweep-multipart@tolmail.test>";
constexpr const char* kPlainId = "<sweep-plain@tolmail.test>";
constexpr const char* kBoundary = "sweep-boundary-7f3a";
/// A sweep that takes longer than this has met waits that a close should have ended.
constexpr auto kSweepBudget = 90s;

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data(n, '\0');
    for (char& c : data)
        c = static_cast<char>(random() & 0xFF);
    return data;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// Base64 in lines of 76 characters, LF line ends (as a Maildir stores them).
std::string Base64Lines(const std::string& data)
{
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = (v << 8) | (i + k < data.size() ? static_cast<uint8_t>(data[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += i + k <= data.size() ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
        if ((i / 3 + 1) % 19 == 0 || i + 3 >= data.size())
            out += '\n';
    }
    return out;
}

/// Decodes base64 text, skipping line ends; stops at padding.
std::string Base64Decode(const std::string& text)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text.substr(0, text.find('='))) {
        const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
        if (at && (bits = (bits << 6) | static_cast<uint32_t>(at - kAlphabet), count += 6) >= 8)
            out += static_cast<char>(bits >> (count -= 8));
    }
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The messages in the user's Maildir (what the server holds), waiting at most `limit`
/// for one that contains `wanted`.
std::vector<std::string> MaildirMessages(const std::string& wanted = {}, std::chrono::milliseconds limit = 0ms)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        std::vector<std::string> messages;
        std::error_code ignored;
        for (const char* sub : {"/new", "/cur"})
            for (const auto& entry : fs::directory_iterator(detail::Maildir(kUser) + sub, ignored))
                messages.push_back(ReadFile(entry.path().string()));
        if (wanted.empty() || Clock::now() >= deadline ||
            std::ranges::any_of(messages, [&](const std::string& m) { return m.find(wanted) != std::string::npos; }))
            return messages;
        std::this_thread::sleep_for(20ms);
    }
}

// ---------------------------------------------------------------------------- POP3

/// The two files of the multipart message, by the upper-case name a part reports.
const std::map<std::string, std::string>& Originals()
{
    static const std::map<std::string, std::string> files = {{"FIRST.BIN", RandomBytes(12000, 1)},
                                                             {"SECOND.BIN", RandomBytes(20000, 2)}};
    return files;
}

std::string MultipartMessage()
{
    std::string raw = std::string("From: Sweep <sweep@tolmail.test>\nTo: faults@tolmail.test\nSubject: fault sweep\n") +
                      "Message-ID: " + kMultipartId + "\nMIME-Version: 1.0\n" +
                      "Content-Type: multipart/mixed; boundary=\"" + kBoundary + "\"\n\nThis is a multi-part message.\n" +
                      "--" + kBoundary + "\nContent-Type: text/plain; charset=us-ascii\n\nTwo files follow.\n";
    for (const auto& [name, lower] : {std::pair{"FIRST.BIN", "first.bin"}, std::pair{"SECOND.BIN", "second.bin"}})
        raw += std::string("--") + kBoundary + "\nContent-Type: application/octet-stream; name=\"" + lower +
               "\"\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"" + lower +
               "\"\n\n" + Base64Lines(Originals().at(name));
    return raw + "--" + kBoundary + "--\n";
}

const std::string kPlainMessage = std::string("From: sweep@tolmail.test\nTo: faults@tolmail.test\nSubject: plain\n") +
                                  "Message-ID: " + kPlainId + "\n\nThe second message.\n";

/// Message.GetMessage(2) after the headers, the same keeping the text on disk (6), or GetMessages(2).
enum class Fetch { kOne, kOneToDisk, kAll };
const char* const kFetchNames[] = {"GetMessage(2)", "GetMessage(6)", "GetMessages(2)"};

struct Pop3Run {
    int32_t result = -1;
    bool savedWhole = false;   // both files saved and byte-identical
    bool plainIntact = false;  // the second message was retrieved with its text
    std::set<std::string> held;
    int fired = 0;
    std::string what;
    std::string recorded;  // from the reply to "RETR 1" on
};

class FaultSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = fs::temp_directory_path().string() + "/tolmail-faults-XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        dir_ = base + "/";
        ClearMaildir(kUser);  // no message of an earlier run passes for one of this run
    }
    void TearDown() override
    {
        ClearMaildir(kUser);
        fs::remove_all(dir_);
    }

    void Fill()
    {
        ClearMaildir(kUser);
        ASSERT_TRUE(DeliverToMaildir(kUser, MultipartMessage()));
        ASSERT_TRUE(DeliverToMaildir(kUser, kPlainMessage));
    }

    /// The exact bytes the server sends for "RETR 1", status line and terminator included.
    std::string RetrStream()
    {
        const Pop3Run probe = RunPop3(Plan{.record = true}, Fetch::kOne);
        EXPECT_EQ(probe.result, 0) << probe.what;
        const size_t end = probe.recorded.find("\r\n.\r\n");
        return end == std::string::npos ? std::string() : probe.recorded.substr(0, end + 5);
    }

    /// One session through a proxy with `toClient` applied from the "RETR 1" command on.
    Pop3Run RunPop3(Plan toClient, Fetch fetch)
    {
        Pop3Run run;
        Fill();
        const std::string cache = dir_ + "cache/";
        fs::remove_all(cache);
        fs::create_directory(cache);
        toClient.marker = "RETR 1\r\n";
        toClient.markerFromPeer = true;
        {
            faultproxy::Proxy proxy(Pop3FromEnv().host, static_cast<uint16_t>(Pop3FromEnv().port), toClient, Plan{});
            Ref<TolvanPOP3> pop = TolvanPOP3::Create();
            pop->Host("127.0.0.1");
            pop->Port(static_cast<int16_t>(proxy.Port()));
            pop->Login(kUser);
            pop->Password(Pop3FromEnv().password);
            pop->TimeOut(5);
            pop->CachedDirectory(cache);
            if (pop->Connect() != 0) {
                run.what = "no log-in through the proxy";
                return run;
            }
            if (fetch == Fetch::kAll) {
                run.result = pop->GetMessages(2);
            } else if (pop->GetMessageHeader() == 0 && pop->Messages()->Count() >= 1) {
                run.result = pop->Messages()->Item(Variant(int32_t{1}))->GetMessage(fetch == Fetch::kOne ? 2 : 6);
            }
            run.what = pop->POP3Error();
            pop->Disconnect();
            for (const auto& message : pop->Messages()->NewEnum()) {
                if (message->MessageId().find(kPlainId) != std::string::npos)
                    run.plainIntact = message->MessageText().find("The second message.") != std::string::npos;
                if (message->MessageId().find(kMultipartId) != std::string::npos)
                    run.savedWhole = SavedWhole(message);
            }
            pop.reset();  // the component's socket closes with it
            EXPECT_TRUE(proxy.WaitIdle()) << "the session did not end";
            run.fired = proxy.Fired();
            run.recorded = proxy.Recorded(false);
        }
        for (const std::string& message : MaildirMessages())
            for (const char* id : {kMultipartId, kPlainId})
                if (message.find(id) != std::string::npos)
                    run.held.insert(id);
        return run;
    }

    bool SavedWhole(const Ref<Message>& message)
    {
        size_t whole = 0;
        for (const auto& part : message->Attachments()->NewEnum()) {
            std::string name = part->Filename();
            std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::toupper(c); });
            const auto original = Originals().find(name);
            if (original == Originals().end())
                continue;
            const std::string target = dir_ + "saved";
            fs::remove(target);
            if (part->Save(target) == 0 && ReadFile(target) == original->second)
                ++whole;
        }
        return whole == Originals().size();
    }

    /// The rule: no success for a short message, nothing gone that was not saved whole.
    static void ExpectSafe(const Pop3Run& run, Fetch fetch, const std::string& where)
    {
        SCOPED_TRACE(where + ", result " + std::to_string(run.result) + " (" + run.what + ")");
        EXPECT_TRUE(run.result != 0 || run.savedWhole) << "success reported for a message not saved whole";
        EXPECT_TRUE(run.held.count(kMultipartId) || (run.result == 0 && run.savedWhole))
            << "the multipart message was deleted unsaved";
        EXPECT_TRUE(run.held.count(kPlainId) || (run.result == 0 && fetch == Fetch::kAll && run.plainIntact))
            << "the second message was deleted unsaved";
    }

    std::string dir_;
};

/// Offsets worth cutting at: every one near the start, a few around each landmark
/// (header end, boundaries, terminator), and a stride through the rest; in a fixed
/// shuffled order, so that a sweep cut short by its time budget still samples them all.
std::vector<size_t> Offsets(const std::string& stream, const std::vector<std::string>& landmarks, size_t stride)
{
    std::set<size_t> offsets;
    for (size_t i = 0; i < 48; ++i)
        offsets.insert(i);
    for (const std::string& landmark : landmarks)
        for (size_t at = stream.find(landmark); at != std::string::npos; at = stream.find(landmark, at + 1))
            for (size_t k = at > 2 ? at - 2 : 0; k <= at + 3; ++k)
                offsets.insert(k);
    for (size_t k = stream.size() - 7; k <= stream.size(); ++k)
        offsets.insert(k);
    for (size_t k = 0; k < stream.size(); k += stride)
        offsets.insert(k);
    std::vector<size_t> sorted(offsets.begin(), offsets.end());
    while (!sorted.empty() && sorted.back() > stream.size())
        sorted.pop_back();
    std::shuffle(sorted.begin(), sorted.end(), std::mt19937(7));
    return sorted;
}

/// Runs `run(0)` to `run(count - 1)` within the time budget, then prints how many runs
/// ended with each result.
void Sweep(size_t count, const std::string& what, const std::function<int32_t(size_t)>& run)
{
    const auto start = Clock::now();
    std::map<int32_t, int> results;
    size_t done = 0;
    while (done < count) {
        ++results[run(done++)];
        if (Clock::now() - start > kSweepBudget) {
            ADD_FAILURE() << "sweep over its time budget after " << done << " of " << count
                          << " runs: a closed connection is not noticed at once";
            break;
        }
    }
    std::string tally;
    for (const auto& [code, n] : results)
        tally += ' ' + std::to_string(code) + "x" + std::to_string(n);
    std::printf("[ sweep    ] %zu runs over %s in %.1f s; results%s\n", done, what.c_str(),
                std::chrono::duration<double>(Clock::now() - start).count(), tally.c_str());
}

TEST_F(FaultSweep, Pop3CutOrResetAnywhereInRetrDeletesNothingUnsaved)
{
    TOLMAIL_NEED_POP3_SERVER();
    const std::string stream = RetrStream();
    ASSERT_TRUE(stream.ends_with("\r\n.\r\n")) << stream.size();
    const auto offsets = Offsets(stream, {"\r\n\r\n", std::string("\r\n--") + kBoundary}, 397);
    Sweep(offsets.size(), "a " + std::to_string(stream.size()) + "-byte RETR", [&](size_t i) {
        const Fetch fetch = static_cast<Fetch>(i % 3);
        const Action action = (i / 3) % 2 ? Action::kReset : Action::kCut;
        const Pop3Run run = RunPop3(Plan{.action = action, .offset = offsets[i]}, fetch);
        const std::string where = std::string(action == Action::kCut ? "cut" : "reset") + " at " +
                                  std::to_string(offsets[i]) + " of " + std::to_string(stream.size()) +
                                  ", " + kFetchNames[static_cast<int>(fetch)];
        EXPECT_EQ(run.fired, 1) << where;
        ExpectSafe(run, fetch, where);
        EXPECT_TRUE(offsets[i] >= stream.size() || run.result != 0) << where << ": success for a message cut short";
        EXPECT_NE(run.result, 1) << where << ": a closed connection taken for a time-out";
        return run.result;
    });
}

TEST_F(FaultSweep, Pop3StallsAndSlowOrSplitStreams)
{
    TOLMAIL_NEED_POP3_SERVER();
    const std::string stream = RetrStream();
    const size_t second = stream.find("name=\"second.bin\"");
    ASSERT_NE(second, std::string::npos);
    auto stall = [](size_t offset, std::chrono::milliseconds hold) {
        return Plan{.action = Action::kStall, .offset = offset, .stallFor = hold};
    };
    struct Case {
        const char* name;
        Plan plan;
        Fetch fetch;
        bool succeeds;
    };
    const Case cases[] = {
        {"stall for good in the first file", stall(stream.size() / 3, 0ms), Fetch::kAll, false},
        {"stall past the time-out in the second file, then resume", stall(second + 3000, 6500ms), Fetch::kAll, false},
        {"stall past the time-out before the terminator, then resume", stall(stream.size() - 3, 6500ms), Fetch::kOneToDisk, false},
        {"byte by byte", Plan{.piece = 1, .pause = 20us}, Fetch::kAll, true},
        {"in odd pieces", Plan{.piece = 7}, Fetch::kOne, true},
        {"in odd pieces, text kept on disk", Plan{.piece = 5}, Fetch::kOneToDisk, true},
        {"slow server", Plan{.delay = 300ms}, Fetch::kAll, true},
    };
    for (const Case& c : cases) {
        const Pop3Run run = RunPop3(c.plan, c.fetch);
        ExpectSafe(run, c.fetch, c.name);
        if (c.succeeds) {
            EXPECT_EQ(run.result, 0) << c.name << ": " << run.what;
            EXPECT_TRUE(run.savedWhole) << c.name;
            EXPECT_EQ(run.held, c.fetch == Fetch::kAll ? std::set<std::string>{} : std::set<std::string>{kPlainId})
                << c.name << ": not deleted as asked";
        } else {
            EXPECT_NE(run.result, 0) << c.name;
            EXPECT_EQ(run.fired, 1) << c.name;
        }
    }
}

// ---------------------------------------------------------------------------- SMTP

struct SmtpRun {
    int32_t result = -1;
    std::string error;
    int fired = 0;
    std::string recorded;  // the DATA transfer as forwarded
    std::string replies;   // and the server's side, when its plan counts from a marker
};

class SmtpFaultSweep : public FaultSweep {
protected:
    /// Sends one message with a base64 attachment through a proxy with these plans
    /// (the client side's from "DATA" on); its subject carries the run's tag.
    SmtpRun RunSmtp(Plan toServer, Plan toClient, const std::string& tag, const std::string& file, int32_t timeOut,
                    int receiveBuffer = 0)
    {
        SmtpRun run;
        if (toServer.marker.empty())
            toServer.marker = "DATA\r\n";
        toServer.record = toClient.record = true;
        faultproxy::Proxy proxy(Env("TOLMAIL_SMTP_HOST", "127.0.0.1"),
                                static_cast<uint16_t>(std::stoi(Env("TOLMAIL_SMTP_PORT"))), toClient, toServer,
                                receiveBuffer);
        const std::string path = dir_ + "attached.bin";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
        Ref<TolvanSMTP> smtp = TolvanSMTP::Create();
        smtp->Host("127.0.0.1");
        smtp->Port(static_cast<int16_t>(proxy.Port()));
        smtp->TimeOut(timeOut);
        smtp->DateTime("Sun, 06 Dec 2026 12:00:00 +0000");
        smtp->FromEmail("sweep@tolmail.test");
        smtp->Subject("fault sweep " + tag);
        smtp->MailBody("One file follows.\r\n");
        smtp->AddRecipients("Faults", std::string(kUser) + "@tolmail.test", 1);
        smtp->AddAttachment(path, 2);
        run.result = smtp->Connect();
        if (run.result == 0)
            run.result = smtp->Send();
        run.error = smtp->SMTPError();
        smtp->Disconnect();
        smtp.reset();
        EXPECT_TRUE(proxy.WaitIdle());
        run.fired = proxy.Fired();
        run.recorded = proxy.Recorded(true);
        run.replies = proxy.Recorded(false);
        return run;
    }

    /// The delivered message with the run's tag, waiting for it at most `limit`.
    static std::string Delivered(const std::string& tag, std::chrono::milliseconds limit)
    {
        const std::string subject = "Subject: fault sweep " + tag;  // tags have five digits
        for (const std::string& message : MaildirMessages(subject, limit))
            if (message.find(subject) != std::string::npos)
                return message;
        return {};
    }

    /// The attachment of a delivered message, decoded.
    static std::string AttachmentOf(const std::string& raw)
    {
        size_t at = raw.find("Content-Transfer-Encoding: base64");
        if (at == std::string::npos)
            return {};
        const size_t body = raw.find("\n\n", at) == std::string::npos ? raw.find("\r\n\r\n", at) : raw.find("\n\n", at);
        const size_t end = raw.find("\n--", body + 2);
        return Base64Decode(raw.substr(body, end == std::string::npos ? std::string::npos : end - body));
    }
};

TEST_F(SmtpFaultSweep, CutOrResetAnywhereInDataOrItsRepliesIsNeverReportedSent)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_MAIL_ROOT");
    const std::string file = RandomBytes(6000, 3);
    const SmtpRun probe = RunSmtp(Plan{}, Plan{.marker = "DATA\r\n", .markerFromPeer = true}, "00000", file, 5);
    ASSERT_EQ(probe.result, 0) << probe.error;
    ASSERT_EQ(AttachmentOf(Delivered("00000", 15s)), file);
    const size_t end = probe.recorded.find("\r\n.\r\n");
    const size_t accepted = probe.replies.find("\r\n250");
    ASSERT_NE(end, std::string::npos);
    ASSERT_NE(accepted, std::string::npos) << probe.replies;
    const std::string stream = probe.recorded.substr(0, end + 5);
    const size_t replies = probe.replies.find("\r\n", accepted + 2) + 2;  // "354 ..." and "250 ..."

    // The client's transfer at every landmark (header end, boundary lines) and a
    // stride; the server's replies to it at every offset.
    struct Run {
        Plan toServer, toClient;
        std::string where;
        bool neverConfirmed;  // the "250" has not reached the client whole
    };
    std::vector<Run> runs;
    for (size_t offset : Offsets(stream, {"\r\n\r\n", "\r\n--"}, 149)) {
        const Action action = runs.size() % 2 ? Action::kReset : Action::kCut;
        runs.push_back({Plan{.action = action, .offset = offset}, Plan{},
                        std::string(action == Action::kCut ? "cut" : "reset") + " at " + std::to_string(offset) +
                            " of the " + std::to_string(stream.size()) + "-byte transfer",
                        true});
    }
    for (size_t offset = 0; offset <= replies; ++offset)
        runs.push_back({Plan{}, Plan{.action = Action::kCut, .offset = offset, .marker = "DATA\r\n", .markerFromPeer = true},
                        "replies cut at " + std::to_string(offset) + " of " + std::to_string(replies),
                        offset < accepted + 5});

    Sweep(runs.size(), "a " + std::to_string(stream.size()) + "-byte DATA transfer and its replies", [&](size_t i) {
        const Run& r = runs[i];
        char tag[24];
        std::snprintf(tag, sizeof tag, "%05zu", i + 1);
        const SmtpRun run = RunSmtp(r.toServer, r.toClient, tag, file, 3);
        EXPECT_EQ(run.fired, 1) << r.where;
        EXPECT_TRUE(!r.neverConfirmed || run.result != 0) << r.where << ": reported sent, the server never confirmed it";
        if (run.result == 0) {
            EXPECT_EQ(AttachmentOf(Delivered(tag, 5s)), file) << r.where << ": reported sent but not delivered whole";
        }
        return run.result;
    });
}

TEST_F(SmtpFaultSweep, SplitSlowAndBrokenTransfers)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_MAIL_ROOT");
    // A reset while the client is still inside one long send: it must not be reported sent.
    const Plan resetMidSend{.action = Action::kReset, .offset = size_t{2} << 20, .piece = 16384, .pause = 1000us};
    struct Case {
        const char* name;
        Plan toServer, toClient;
        size_t size;
        int32_t timeOut;
        int receiveBuffer;
        bool delivers;
    };
    const Case cases[] = {
        {"byte by byte", Plan{.piece = 1, .pause = 20us}, Plan{}, 6000, 5, 0, true},
        {"every reply late", Plan{}, Plan{.delay = 600ms}, 6000, 1, 0, true},
        // About 300 KB read at 200 KB/s through a small window: longer than the time-out,
        // but the server takes bytes all the time.
        {"slow reader", Plan{.piece = 1024, .pause = 5000us}, Plan{}, 220000, 1, 4096, true},
        {"reset in the middle of an 8 MB send", resetMidSend, Plan{}, size_t{8} << 20, 5, 16384, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string tag = "9000" + std::to_string(++n);
        const std::string file = RandomBytes(c.size, static_cast<unsigned>(10 + n));
        const auto start = Clock::now();
        const SmtpRun run = RunSmtp(c.toServer, c.toClient, tag, file, c.timeOut, c.receiveBuffer);
        if (c.delivers) {
            EXPECT_EQ(run.result, 0) << c.name << ": " << run.error;
            EXPECT_EQ(AttachmentOf(Delivered(tag, 15s)), file) << c.name;
        } else {
            EXPECT_EQ(run.fired, 1) << c.name;
            EXPECT_NE(run.result, 0) << c.name << ": reported sent";
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(c.timeOut)) << c.name << ": the reset was noticed late";
        }
    }
}

} // namespace
} // namespace tolmail::testing
