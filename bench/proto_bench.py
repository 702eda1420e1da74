"""Python's poplib and imaplib in the benchmark of the POP3 and IMAP clients:
the same command sequences against the same Dovecot.

    proto_bench.py check NAME PORT ROUNDS

runs one account check (pop3-plain, pop3-tls, imap-plain or imap-tls) ROUNDS
times after one untimed run, and prints wall and CPU seconds of each run.

    proto_bench.py transfers POP3 IMAP BIG_ROUNDS

retrieves the 20 MB message by RETR and FETCH and prints one line per case:
name, median wall seconds, median CPU seconds, bytes."""
import imaplib
import poplib
import ssl
import statistics
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


def repeat_big(name, rounds, run):
    results = [run() for _ in range(rounds)]
    wall = statistics.median(r[0] for r in results)
    cpu = statistics.median(r[1] for r in results)
    print(f"{name} {wall:.6f} {cpu:.6f} {results[0][2]}", flush=True)


def main():
    if sys.argv[1] == "check":
        repeat(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        return
    pop3, imap, big_rounds = map(int, sys.argv[2:5])
    # One session each; every round transfers the message once more.
    p = poplib.POP3(HOST, pop3)
    p.user("big")
    p.pass_("secret")
    repeat_big("pop3-retr", big_rounds, lambda: pop3_retr(p))
    p.rset()
    p.quit()
    m = imaplib.IMAP4(HOST, imap)
    m.login("big", "secret")
    m.select('"INBOX"', readonly=True)
    repeat_big("imap-fetch", big_rounds, lambda: imap_fetch(m))
    m.logout()


if __name__ == "__main__":
    main()
