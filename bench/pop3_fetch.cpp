// The retrieval job of the benchmark, in-process: GetMessages on the whole mailbox, then
// Save of every named attachment into OUTDIR.
//
//   pop3_fetch HOST PORT USER OUTDIR [MAX_MEM_ATTACHMENT [CACHE_DIR]]
//   (password: TOLMAIL_PASSWORD; the cache defaults to OUTDIR/.cache; with
//   TOLMAIL_INTERNATIONAL=1 the messages are read in the InternationalText mode)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tolmail/TolvanPOP3.h"

using namespace tolmail;

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fputs("usage: pop3_fetch HOST PORT USER OUTDIR [MAX_MEM_ATTACHMENT [CACHE_DIR]]\n", stderr);
        return 2;
    }
    const char* password = std::getenv("TOLMAIL_PASSWORD");
    const std::string out = std::string(argv[4]) + "/";
    const std::string cache = (argc > 6 ? std::string(argv[6]) : out + ".cache") + "/";
    std::filesystem::create_directories(cache);

    int32_t result = 0;
    {
        Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
        pop3->Host(argv[1]);
        pop3->Port(static_cast<int16_t>(std::atoi(argv[2])));
        pop3->Login(argv[3]);
        pop3->Password(password ? password : "");
        pop3->CachedDirectory(cache);
        const char* international = std::getenv("TOLMAIL_INTERNATIONAL");
        pop3->InternationalText(international && std::string(international) == "1");
        if (argc > 5 && std::atoi(argv[5]) > 0)
            pop3->MaxMemAttachment(std::atoi(argv[5]));
        result = pop3->Connect();
        if (result != 0)
            std::fprintf(stderr, "pop3_fetch: log-in failed (%d): %s\n", result, pop3->POP3Error().c_str());
        if (result == 0 && (result = pop3->GetMessages(0)) != 0)
            std::fprintf(stderr, "pop3_fetch: GetMessages failed (%d)\n", result);
        for (const auto& message : pop3->Messages()->NewEnum()) {
            for (const auto& part : message->Attachments()->NewEnum()) {
                if (part->Filename().empty())
                    continue;
                if (int32_t saved = part->Save(out + part->Filename()); saved != 0) {
                    std::fprintf(stderr, "pop3_fetch: Save of %s failed (%d)\n", part->Filename().c_str(), saved);
                    if (result == 0)
                        result = saved;
                }
            }
        }
        pop3->Disconnect();
    }
    std::filesystem::remove_all(cache);
    return result;
}
