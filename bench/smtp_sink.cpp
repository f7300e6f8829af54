// A minimal SMTP sink for the sending benchmarks (RFC 5321 dialogue, no checks): it
// accepts every command, reads DATA as fast as loopback allows and discards it.
//
//   smtp_sink PORT [CONNECTIONS]   serves CONNECTIONS sessions (default 1), then exits;
//                                  gives up after 120 s without a client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kIdleMillis = 120000;
constexpr size_t kBuffer = 1 << 20;

bool sendText(int fd, const char* text)
{
    return ::send(fd, text, std::strlen(text), MSG_NOSIGNAL) >= 0;
}

/// Serves one session; the data of DATA is counted and thrown away.
void serve(int fd)
{
    std::vector<char> buf(kBuffer);
    std::string line;
    bool inData = false;
    char tail[5] = {0};  // the last bytes seen in DATA, to find "\r\n.\r\n" across reads
    size_t dataBytes = 0;
    sendText(fd, "220 sink ready\r\n");
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kIdleMillis) <= 0)
            return;
        const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            return;
        size_t at = 0;
        while (at < static_cast<size_t>(n)) {
            if (inData) {
                // Look for the end-of-data line, including one split over two reads.
                std::string_view chunk(buf.data() + at, static_cast<size_t>(n) - at);
                std::string joined = std::string(tail, 4) + std::string(chunk.substr(0, std::min<size_t>(chunk.size(), 4)));
                size_t end = std::string::npos;
                if (const size_t j = joined.find("\r\n.\r\n"); j != std::string::npos && j + 5 > 4)
                    end = j + 5 - 4;
                else if (const void* hit = memmem(chunk.data(), chunk.size(), "\r\n.\r\n", 5))
                    end = static_cast<size_t>(static_cast<const char*>(hit) - chunk.data()) + 5;
                if (end == std::string::npos) {
                    dataBytes += chunk.size();
                    const size_t keep = std::min<size_t>(chunk.size(), 4);
                    std::memmove(tail, tail + keep, 4 - keep);
                    std::memcpy(tail + 4 - keep, chunk.data() + chunk.size() - keep, keep);
                    at = static_cast<size_t>(n);
                    continue;
                }
                dataBytes += end;
                at += end;
                inData = false;
                sendText(fd, "250 2.0.0 discarded\r\n");
                continue;
            }
            const char* nl = static_cast<const char*>(std::memchr(buf.data() + at, '\n', static_cast<size_t>(n) - at));
            const size_t upto = nl ? static_cast<size_t>(nl - buf.data()) + 1 : static_cast<size_t>(n);
            line.append(buf.data() + at, upto - at);
            at = upto;
            if (!nl)
                continue;
            const std::string verb = line.substr(0, 4);
            line.clear();
            if (verb == "DATA" || verb == "data") {
                inData = true;
                std::memcpy(tail, "\0\0\r\n", 4);  // the DATA line's end counts as a line start
                sendText(fd, "354 go ahead\r\n");
            } else if (verb == "QUIT" || verb == "quit") {
                sendText(fd, "221 bye\r\n");
                std::fprintf(stderr, "smtp_sink: %zu bytes of data\n", dataBytes);
                return;
            } else if (verb == "EHLO" || verb == "ehlo") {
                sendText(fd, "250-sink\r\n250 SIZE 0\r\n");
            } else {
                sendText(fd, "250 ok\r\n");
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: smtp_sink PORT [CONNECTIONS]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int connections = argc > 2 ? std::atoi(argv[2]) : 1;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        std::perror("smtp_sink: bind");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    for (int served = 0; served < connections; ++served) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kIdleMillis) <= 0)
            break;
        const int c = accept(fd, nullptr, nullptr);
        if (c < 0)
            break;
        serve(c);
        close(c);
    }
    close(fd);
    return 0;
}
