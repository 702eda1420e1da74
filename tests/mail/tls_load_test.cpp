// Which TLS libraries the connection loads: on POSIX never a release older
// than 1.1, whatever the file is called; on Windows the DLLs beside the
// program or in the system folders, by their current or older names, and
// never those planted in the current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blcksock.h"
#include "platform/net/dynlib.h"
#include "ssl_openssl.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using test_support::build_dir;

#ifndef _WIN32

TEST(TlsLoad, OnlyReleasesFrom1_1On) {
  struct Case {
    const char* library;
    int error;
  };
  const Case cases[] = {{"fake_openssl_1_0.so", 10043}, {"fake_openssl.so", 0}};
  for (const Case& c : cases) {
    const std::string path = build_dir() + c.library;
    TlsSession::SetLibraryNamesForTesting({path}, {path});
    TTCPBlockSocket sock;
    sock.SetTlsEnabled(true);
    EXPECT_EQ(sock.LastError(), c.error) << c.library;
    sock.SetTlsEnabled(false);
  }
  TlsSession::SetLibraryNamesForTesting({}, {});
}

// Under a hold, sessions one after another share one context per cipher
// list and the library stays loaded between them; the last hold's end frees
// both, and without a hold each session has its own.
TEST(TlsLoad, AHoldKeepsTheLibraryAndAContextPerCipherList) {
  const std::string path = build_dir() + "fake_openssl.so";
  platform::dynlib::Library fake = platform::dynlib::Open(path);
  ASSERT_NE(fake, nullptr);
  auto counter = [&](const char* name) {
    return reinterpret_cast<int (*)()>(platform::dynlib::Symbol(fake, name))();
  };
  auto session = [](const char* cipher_list) {
    TTCPBlockSocket sock;
    sock.TlsCipherList = cipher_list;
    sock.SetTlsEnabled(true);
    return sock.LastError();
  };
  TlsSession::SetLibraryNamesForTesting({path}, {path});
  const int made = counter("fake_contexts_made");
  {
    const TlsLibraryHold hold;
    for (const char* list : {"DEFAULT", "HIGH", "DEFAULT"}) EXPECT_EQ(session(list), 0) << list;
    EXPECT_EQ(counter("fake_contexts_made") - made, 2);
    EXPECT_EQ(counter("fake_contexts_live"), 2);
    // Kept: names given now only count at the next load.
    TlsSession::SetLibraryNamesForTesting({"email-test-no-such-library"},
                                          {"email-test-no-such-library"});
    EXPECT_EQ(session("DEFAULT"), 0);
  }
  EXPECT_EQ(counter("fake_contexts_live"), 0);
  EXPECT_EQ(session("DEFAULT"), TBlockSocket::kErrTlsUnavailable);
  TlsSession::SetLibraryNamesForTesting({path}, {path});
  for (int i = 0; i < 2; ++i) EXPECT_EQ(session("DEFAULT"), 0);
  EXPECT_EQ(counter("fake_contexts_made") - made, 4);
  EXPECT_EQ(counter("fake_contexts_live"), 0);
  TlsSession::SetLibraryNamesForTesting({}, {});
  platform::dynlib::Close(fake);
}

#else

void Copy(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

// Runs the probe copied into `app` with `cwd` as its current directory; its
// exit code is the connection's error after turning TLS on.
DWORD RunProbe(const std::string& app, const std::string& cwd) {
  const std::string probe = app + "tls_load_probe.exe";
  Copy(build_dir() + "tls_load_probe.exe", probe);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + probe + "\"";
  if (!CreateProcessA(probe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.c_str(), &startup, &process)) {
    return ~DWORD{0};
  }
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = ~DWORD{0};
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST(TlsLoad, DllsComeFromTheProgramFolderNeverTheCurrentDirectory) {
  const std::string ssl = build_dir() + "libssl-3-x64.dll";
  const std::string crypto = build_dir() + "libcrypto-3-x64.dll";
  const std::string fake = build_dir() + "fake_openssl.dll";
  struct File {
    std::string source, name;
  };
  struct Case {
    const char* name;
    std::vector<File> beside, in_cwd;
    DWORD error;
  };
  const Case cases[] = {
      {"current names beside", {{ssl, "libssl-3-x64.dll"}, {crypto, "libcrypto-3-x64.dll"}}, {}, 0},
      {"older names beside",
       {{fake, "libssl-1_1-x64.dll"}, {fake, "libcrypto-1_1-x64.dll"}},
       {},
       0},
      {"none beside, planted in the current directory",
       {},
       {{ssl, "libssl-3-x64.dll"}, {crypto, "libcrypto-3-x64.dll"}},
       10043},
  };
  for (const Case& c : cases) {
    test_support::temp_dir app, cwd;
    for (const File& f : c.beside) Copy(f.source, app.path() + f.name);
    for (const File& f : c.in_cwd) Copy(f.source, cwd.path() + f.name);
    EXPECT_EQ(RunProbe(app.path(), cwd.path()), c.error) << c.name;
  }
}

#endif

}  // namespace
