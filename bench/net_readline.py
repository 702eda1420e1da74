"""Reference reader for net_bench: answers the server's "+ready", then reads
a reply of lines ending with "." with socket.makefile().readline() and
prints the seconds the reply took. Usage: net_readline.py PORT plain|tls"""
import socket
import ssl
import sys
import time


def main():
    port, mode = int(sys.argv[1]), sys.argv[2]
    sock = socket.create_connection(("127.0.0.1", port))
    if mode == "tls":
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        sock = ctx.wrap_socket(sock)
    reader = sock.makefile("rb")
    if reader.readline() != b"+ready\r\n":
        sys.exit("no +ready")
    sock.sendall(b"go\r\n")
    start = time.perf_counter()
    total = 0
    while True:
        line = reader.readline()
        if not line or line == b".\r\n":
            break
        total += len(line)
    print(f"{time.perf_counter() - start:.6f} {total}")


if __name__ == "__main__":
    main()
