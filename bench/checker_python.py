#!/usr/bin/env python3
"""The account check's command sequences with Python's poplib and imaplib,
for comparison with check_account in checker_bench.

    checker_python.py HOST PORT pop3|imap USER PASSWORD ROUNDS

Prints the wall time and the process's CPU time of each complete check in
ms, a line per check, after one untimed check.
POP3: connect, greeting, CAPA, APOP (the server offers a timestamp), STAT,
TOP n 0, RSET, QUIT. IMAP: connect, greeting, CAPABILITY, LOGIN, EXAMINE,
STATUS UNSEEN, STATUS MESSAGES, FETCH n (RFC822.HEADER), LOGOUT.
"""
import imaplib
import poplib
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


def main():
    host, port, protocol, user, password, rounds = sys.argv[1:7]
    check = pop3_check if protocol == "pop3" else imap_check
    # The first check of a process pays for lazy set-up that a long-running
    # client pays once.
    check(host, int(port), user, password)
    for _ in range(int(rounds)):
        start, cpu = time.perf_counter(), time.process_time()
        check(host, int(port), user, password)
        print("%.4f %.4f" % ((time.perf_counter() - start) * 1000,
                             (time.process_time() - cpu) * 1000))


if __name__ == "__main__":
    main()
