"""Loopback peer for the Windows smoke test, run on the Linux side.

Prints the port it listens on and a port where nothing listens, then serves each
connection: a greeting, the reply to one line, a large body and a close. Ends after
the given number of connections, or when nobody comes for 30 seconds.
"""
import socket
import sys

BODY_SIZE = 300000

def main():
    connections = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    closed_port = closed.getsockname()[1]
    closed.close()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(5)
    server.settimeout(30)
    print(server.getsockname()[1], closed_port, flush=True)
    for _ in range(connections):
        conn, _ = server.accept()
        conn.settimeout(10)
        conn.sendall(b"220 ready\r\n")
        line = b""
        while not line.endswith(b"\r\n"):
            chunk = conn.recv(100)
            if not chunk:
                break
            line += chunk
        conn.sendall(b"250 got " + line)
        conn.sendall(b"x" * BODY_SIZE + b"BYE\r\n")
        conn.shutdown(socket.SHUT_WR)
        conn.close()
    server.close()

main()
