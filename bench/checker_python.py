#!/usr/bin/env python3
"""The account check's command sequences with Python's poplib and imaplib,
for comparison with check_account in checker_bench.

    checker_python.py HOST POP3_PORT IMAP_PORT USER PASSWORD ROUNDS

Prints "pop3 MEDIAN_MS" and "imap MEDIAN_MS" (wall time per complete check).
POP3: connect, greeting, CAPA, APOP (the server offers a timestamp), STAT,
TOP n 0, RSET, QUIT. IMAP: connect, greeting, CAPABILITY, LOGIN, EXAMINE,
STATUS UNSEEN, STATUS MESSAGES, FETCH n (RFC822.HEADER), LOGOUT.
"""
import imaplib
import poplib
import statistics
import sys
import time


def pop3_check(host, port, user, password):
    p = poplib.POP3(host, port)
    p.capa()
    p.apop(user, password)
    count, _ = p.stat()
    if count > 0:
        p.top(count, 0)
    p.rset()
    p.quit()


def imap_check(host, port, user, password):
    m = imaplib.IMAP4(host, port)  # sends CAPABILITY itself
    m.login(user, password)
    m.select("INBOX", readonly=True)  # EXAMINE
    m.status("INBOX", "(UNSEEN)")
    _, data = m.status("INBOX", "(MESSAGES)")
    total = int(data[0].split(b"MESSAGES ")[1].rstrip(b")"))
    if total > 0:
        m.fetch(str(total), "(RFC822.HEADER)")
    m.logout()


def median_ms(check, rounds, *args):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        check(*args)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    host, pop3_port, imap_port, user, password, rounds = sys.argv[1:7]
    rounds = int(rounds)
    print("pop3 %.3f" % median_ms(pop3_check, rounds, host, int(pop3_port), user, password))
    print("imap %.3f" % median_ms(imap_check, rounds, host, int(imap_port), user, password))


if __name__ == "__main__":
    main()
