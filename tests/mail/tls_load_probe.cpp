// Turns TLS on for one connection and exits with the connection's error code
// (0: the TLS libraries were found and loaded), so a test can run it from
// folders laid out in different ways.
#include "blcksock.h"

int main() {
  TTCPBlockSocket sock;
  sock.SetTlsEnabled(true);
  return sock.LastError();
}
