"""An SMTP server (aiosmtpd) on a free loopback port that records, per connection,
every byte the client sends: the whole dialogue, DATA included, as it came.

Usage: capture_server.py OUTDIR
Prints the port on standard output once it listens; connection n is written to
OUTDIR/conn-n.bin (n from 1). Ends when standard input closes (the test that
started it went away) or after a bounded lifetime.
"""
import asyncio
import os
import sys
import threading

from aiosmtpd.smtp import SMTP

LIFETIME_SECONDS = 600


class Accept:
    async def handle_DATA(self, server, session, envelope):
        return "250 2.0.0 Ok: queued"


class CaptureSMTP(SMTP):
    counter = 0
    outdir = "."

    def connection_made(self, transport):
        CaptureSMTP.counter += 1
        path = os.path.join(CaptureSMTP.outdir, "conn-%d.bin" % CaptureSMTP.counter)
        self._capture = open(path, "wb", buffering=0)
        super().connection_made(transport)

    def data_received(self, data):
        # Written before the server acts on it, so a reply implies a complete record.
        self._capture.write(data)
        super().data_received(data)

    def connection_lost(self, exc):
        self._capture.close()
        super().connection_lost(exc)


def exit_when_stdin_closes():
    sys.stdin.buffer.read()
    os._exit(0)


async def main(outdir):
    CaptureSMTP.outdir = outdir
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: CaptureSMTP(Accept(), hostname="capture.test", data_size_limit=None),
        host="127.0.0.1", port=0)
    print(server.sockets[0].getsockname()[1], flush=True)
    threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
    await asyncio.sleep(LIFETIME_SECONDS)


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
