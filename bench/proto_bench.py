"""Python's poplib and imaplib in the benchmark of the POP3 and IMAP clients:
the same command sequences against the same Dovecot.

    proto_bench.py check NAME PORT ROUNDS

runs one account check (pop3-plain, pop3-tls, imap-plain or imap-tls) ROUNDS
times after one untimed run, and prints wall and CPU seconds of each run.

    proto_bench.py transfer NAME PORT

retrieves the 20 MB message on a session of its own by RETR (pop3-retr) or
FETCH (imap-fetch), twice untimed and once timed, and prints wall and CPU
seconds and bytes of the timed transfer."""
import imaplib
import poplib
import ssl
import sys
import time

HOST = "127.0.0.1"
CTX = ssl._create_unverified_context()


def pop3_check(port, tls):
    p = poplib.POP3_SSL(HOST, port, context=CTX) if tls else poplib.POP3(HOST, port)
    p.capa()
    p.user("bench")
    p.pass_("secret")
    count = p.stat()[0]
    p.top(count, 0)
    p.rset()
    p.quit()
    return 0


def imap_check(port, tls):
    # The constructor reads the greeting and sends CAPABILITY.
    m = imaplib.IMAP4_SSL(HOST, port, ssl_context=CTX) if tls else imaplib.IMAP4(HOST, port)
    m.login("bench", "secret")
    count = int(m.select('"INBOX"', readonly=True)[1][0])
    m.status('"INBOX"', "(UNSEEN)")
    m.status('"INBOX"', "(MESSAGES)")
    m.fetch(str(count), "(RFC822.HEADER)")
    m.logout()
    return 0


def pop3_retr(p):
    start, cpu = time.perf_counter(), time.process_time()
    _, lines, octets = p.retr(1)
    return time.perf_counter() - start, time.process_time() - cpu, octets


def imap_fetch(m):
    start, cpu = time.perf_counter(), time.process_time()
    data = m.fetch("1", "(RFC822)")[1]
    return time.perf_counter() - start, time.process_time() - cpu, len(data[0][1])


def repeat(name, port, rounds):
    check = pop3_check if name.startswith("pop3") else imap_check
    tls = name.endswith("tls")
    # The first run of a process pays for lazy set-up that a long-running
    # client pays once.
    check(port, tls)
    for _ in range(rounds):
        start, cpu = time.perf_counter(), time.process_time()
        check(port, tls)
        print(f"{time.perf_counter() - start:.6f} {time.process_time() - cpu:.6f}")


def transfer(name, port):
    if name == "pop3-retr":
        p = poplib.POP3(HOST, port)
        p.user("big")
        p.pass_("secret")
        run = lambda: pop3_retr(p)
    else:
        m = imaplib.IMAP4(HOST, port)
        m.login("big", "secret")
        m.select('"INBOX"', readonly=True)
        run = lambda: imap_fetch(m)
    # A fresh process's first large reads pay for memory that a
    # long-running client has already.
    run()
    run()
    wall, cpu, size = run()
    print(f"{wall:.6f} {cpu:.6f} {size}", flush=True)
    if name == "pop3-retr":
        p.rset()
        p.quit()
    else:
        m.logout()


def main():
    if sys.argv[1] == "check":
        repeat(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        transfer(sys.argv[2], int(sys.argv[3]))


if __name__ == "__main__":
    main()
