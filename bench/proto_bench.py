"""Python's poplib and imaplib in the benchmark of the POP3 and IMAP clients:
the same command sequences against the same Dovecot. Prints one line per
case: name, median wall seconds per run, CPU seconds per run, bytes.
Usage: proto_bench.py POP3 POP3S IMAP IMAPS ROUNDS BIG_ROUNDS"""
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


def repeat(name, rounds, check):
    walls, cpus = [], []
    for _ in range(rounds):
        start, cpu = time.perf_counter(), time.process_time()
        check()
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    print(f"{name} {statistics.median(walls):.6f} {sum(cpus) / rounds:.6f} 0", flush=True)


def repeat_big(name, rounds, run):
    results = [run() for _ in range(rounds)]
    wall = statistics.median(r[0] for r in results)
    cpu = statistics.median(r[1] for r in results)
    print(f"{name} {wall:.6f} {cpu:.6f} {results[0][2]}", flush=True)


def main():
    pop3, pop3s, imap, imaps, rounds, big_rounds = map(int, sys.argv[1:7])
    repeat("pop3-plain", rounds, lambda: pop3_check(pop3, False))
    repeat("pop3-tls", rounds, lambda: pop3_check(pop3s, True))
    repeat("imap-plain", rounds, lambda: imap_check(imap, False))
    repeat("imap-tls", rounds, lambda: imap_check(imaps, True))
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
