// The connect step both mail clients share, seen through each one's login.
#include <gtest/gtest.h>

#include "imapsend.h"
#include "peer.h"
#include "pop3send.h"
#include "ssl_openssl.h"

namespace {

template <typename Client>
class ClientConnect : public testing::Test {};
using Clients = testing::Types<TPOP3Send, TIMAPSend>;
TYPED_TEST_SUITE(ClientConnect, Clients);

// Without the TLS library a TLS account fails before any connection is made.
TYPED_TEST(ClientConnect, ImplicitTlsWithoutTheLibraryNeverConnects) {
  Peer peer;
  TlsSession::SetLibraryNamesForTesting({"email-test-no-such-ssl-library"},
                                        {"email-test-no-such-crypto-library"});
  TypeParam client;
  client.Port = peer.Port();
  client.ImplicitTls = true;
  const bool login = client.Login();
  TlsSession::SetLibraryNamesForTesting({}, {});
  EXPECT_FALSE(login);
  EXPECT_EQ(client.Sock->LastError(), TBlockSocket::kErrTlsUnavailable);
  EXPECT_EQ(client.Sock->GetRemoteSinPort(), 0);
}

TYPED_TEST(ClientConnect, RefusedConnectionFailsLogin) {
  TypeParam client;
  client.Port = Peer::ClosedPort();
  EXPECT_FALSE(client.Login());
  EXPECT_NE(client.Sock->LastError(), 0);
}

}  // namespace
