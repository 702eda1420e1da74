// OpenSSL is reached through entry points looked up by name. OpenSSL 1.1 and
// 3 renamed or turned into macros several of the older names, so each entry
// point is looked up by its current name first and by the older one after.
#include "ssl_openssl.h"

#include <mutex>
#include <utility>

#include "platform/net/dynlib.h"

namespace {

// Values of the OpenSSL headers, which are not included: the library is
// optional at run time and its headers need not be present at build time.
constexpr int kSslErrorNone = 0;
constexpr int kSslErrorWantRead = 2;
constexpr int kSslErrorWantWrite = 3;
constexpr int kSslErrorZeroReturn = 6;
constexpr int kSslVerifyNone = 0;
constexpr uint64_t kInitLoadCryptoStrings = 0x00000002L;
constexpr uint64_t kInitLoadSslStrings = 0x00200000L;
constexpr int kCtrlSetReadAhead = 41;
constexpr int kCtrlSetTlsextHostname = 55;
constexpr long kTlsextNametypeHostName = 0;
constexpr unsigned long kVersion1_1 = 0x10100000L;
// A source/sink type of its own, above the library's numbers.
constexpr int kBioTypeEmailSocket = 0x0400 | 0xE0;
constexpr int kBioFlagsRead = 0x01;
constexpr int kBioFlagsWrite = 0x02;
constexpr int kBioFlagsRws = 0x07;
constexpr int kBioFlagsShouldRetry = 0x08;
constexpr int kBioCtrlEof = 2;
constexpr int kBioCtrlFlush = 11;

struct Entry {
  const char* names[3];  // current name first; null-terminated
  bool required;
};

// Indexes into the table below.
enum Fn {
  kInitSsl,
  kLibraryInit,
  kLoadErrorStrings,
  kClientMethod,
  kCtxNew,
  kCtxFree,
  kCtxSetCipherList,
  kCtxSetVerify,
  kNew,
  kFree,
  kSetFd,
  kConnect,
  kShutdown,
  kRead,
  kWrite,
  kPending,
  kGetError,
  kErrGetError,
  kErrClearError,
  kErrErrorStringN,
  kCtrl,
  kBioMethNew,
  kBioMethFree,
  kBioMethSetWrite,
  kBioMethSetRead,
  kBioMethSetCtrl,
  kBioNew,
  kBioSetData,
  kBioGetData,
  kBioSetInit,
  kBioSetFlags,
  kBioClearFlags,
  kSetBio,
  kHasPending,
  kSetReadBufferLen,
  kFnCount
};

const Entry kEntries[kFnCount] = {
    {{"OPENSSL_init_ssl", nullptr, nullptr}, false},
    {{"SSL_library_init", nullptr, nullptr}, false},
    {{"SSL_load_error_strings", nullptr, nullptr}, false},
    {{"TLS_client_method", "SSLv23_client_method", "SSLv23_method"}, true},
    {{"SSL_CTX_new", nullptr, nullptr}, true},
    {{"SSL_CTX_free", nullptr, nullptr}, true},
    {{"SSL_CTX_set_cipher_list", nullptr, nullptr}, true},
    {{"SSL_CTX_set_verify", nullptr, nullptr}, true},
    {{"SSL_new", nullptr, nullptr}, true},
    {{"SSL_free", nullptr, nullptr}, true},
    {{"SSL_set_fd", nullptr, nullptr}, true},
    {{"SSL_connect", nullptr, nullptr}, true},
    {{"SSL_shutdown", nullptr, nullptr}, true},
    {{"SSL_read", nullptr, nullptr}, true},
    {{"SSL_write", nullptr, nullptr}, true},
    {{"SSL_pending", nullptr, nullptr}, true},
    {{"SSL_get_error", nullptr, nullptr}, true},
    {{"ERR_get_error", nullptr, nullptr}, true},
    {{"ERR_clear_error", nullptr, nullptr}, true},
    {{"ERR_error_string_n", nullptr, nullptr}, true},
    // Only for the server name: without it the handshake names no server.
    {{"SSL_ctrl", nullptr, nullptr}, false},
    // For the connection's own reads and writes (see SocketBio); releases
    // before 1.1 have none of them.
    {{"BIO_meth_new", nullptr, nullptr}, false},
    {{"BIO_meth_free", nullptr, nullptr}, false},
    {{"BIO_meth_set_write", nullptr, nullptr}, false},
    {{"BIO_meth_set_read", nullptr, nullptr}, false},
    {{"BIO_meth_set_ctrl", nullptr, nullptr}, false},
    {{"BIO_new", nullptr, nullptr}, false},
    {{"BIO_set_data", nullptr, nullptr}, false},
    {{"BIO_get_data", nullptr, nullptr}, false},
    {{"BIO_set_init", nullptr, nullptr}, false},
    {{"BIO_set_flags", nullptr, nullptr}, false},
    {{"BIO_clear_flags", nullptr, nullptr}, false},
    {{"SSL_set_bio", nullptr, nullptr}, false},
    // For reading ahead (see Attach); as old as the ones above.
    {{"SSL_has_pending", nullptr, nullptr}, false},
    {{"SSL_set_default_read_buffer_len", nullptr, nullptr}, false},
};

using InitSslFn = int (*)(uint64_t, const void*);
using VoidFn = void (*)();
using IntFn = int (*)();
using MethodFn = const void* (*)();
using CtxNewFn = void* (*)(const void*);
using FreeFn = void (*)(void*);
using SetCipherListFn = int (*)(void*, const char*);
using SetVerifyFn = void (*)(void*, int, void*);
using SslNewFn = void* (*)(void*);
using SetFdFn = int (*)(void*, int);
using SslFn = int (*)(void*);
using ReadFn = int (*)(void*, void*, int);
using WriteFn = int (*)(void*, const void*, int);
using PendingFn = int (*)(const void*);
using GetErrorFn = int (*)(const void*, int);
using ErrGetFn = unsigned long (*)();
using ErrStringFn = void (*)(unsigned long, char*, size_t);
using CtrlFn = long (*)(void*, int, long, void*);
using VersionNumFn = unsigned long (*)();
using BioReadFn = int (*)(void*, char*, int);
using BioWriteFn = int (*)(void*, const char*, int);
using BioCtrlFn = long (*)(void*, int, long, void*);
using BioMethNewFn = void* (*)(int, const char*);
using BioMethSetReadFn = int (*)(void*, BioReadFn);
using BioMethSetWriteFn = int (*)(void*, BioWriteFn);
using BioMethSetCtrlFn = int (*)(void*, BioCtrlFn);
using BioNewFn = void* (*)(const void*);
using BioSetDataFn = void (*)(void*, void*);
using BioGetDataFn = void* (*)(void*);
using BioSetIntFn = void (*)(void*, int);
using SetBioFn = void (*)(void*, void*, void*);
using SetLengthFn = void (*)(void*, size_t);

// Both libraries of one OpenSSL release, current releases first.
std::vector<std::pair<std::string, std::string>> BuiltInNames() {
  if (platform::dynlib::kWindowsNames) {
    const std::string arch = sizeof(void*) == 8 ? "-x64" : "";
    return {{"libssl-3" + arch + ".dll", "libcrypto-3" + arch + ".dll"},
            {"libssl-1_1" + arch + ".dll", "libcrypto-1_1" + arch + ".dll"},
            {"ssleay32.dll", "libeay32.dll"},
            {"libssl32.dll", "libeay32.dll"}};
  }
  return {{"libssl.so.3", "libcrypto.so.3"},
          {"libssl.so.1.1", "libcrypto.so.1.1"},
          {"libssl.so", "libcrypto.so"}};
}

class Library {
 public:
  static Library& Instance() {
    static Library library;
    return library;
  }

  bool Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ssl_ == nullptr && !Load()) return false;
    ++refs_;
    return true;
  }

  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refs_ > 0) --refs_;
    UnloadIfUnused();
  }

  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++holds_;
  }

  void Unhold() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holds_ > 0) --holds_;
    UnloadIfUnused();
  }

  // The client context for the cipher list, made at its first use; null if
  // it cannot be made. Only while a reference is held.
  void* Context(const std::string& cipher_list) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [list, context] : contexts_) {
      if (list == cipher_list) return context;
    }
    const void* method = Get<MethodFn>(kClientMethod)();
    void* context = method ? Get<CtxNewFn>(kCtxNew)(method) : nullptr;
    if (context == nullptr) return nullptr;
    Get<SetCipherListFn>(kCtxSetCipherList)(context, cipher_list.c_str());
    Get<SetVerifyFn>(kCtxSetVerify)(context, kSslVerifyNone, nullptr);
    contexts_.emplace_back(cipher_list, context);
    return context;
  }

  void SetNames(std::vector<std::string> ssl, std::vector<std::string> crypto) {
    std::lock_guard<std::mutex> lock(mutex_);
    test_ssl_ = std::move(ssl);
    test_crypto_ = std::move(crypto);
  }

  template <typename F>
  F Get(Fn fn) const {
    return reinterpret_cast<F>(fns_[fn]);
  }

  void* SocketMethod() const { return method_; }

 private:
  bool Load() {
    std::vector<std::pair<std::string, std::string>> names;
    if (test_ssl_.empty()) {
      names = BuiltInNames();
    } else {
      for (size_t i = 0; i < test_ssl_.size() && i < test_crypto_.size(); ++i) {
        names.emplace_back(test_ssl_[i], test_crypto_[i]);
      }
    }
    for (const auto& [ssl_name, crypto_name] : names) {
      ssl_ = platform::dynlib::Open(ssl_name);
      crypto_ = ssl_ ? platform::dynlib::Open(crypto_name) : nullptr;
      if (crypto_ && LookUp() && RecentEnough()) {
        Initialise();
        MakeSocketMethod();
        return true;
      }
      Unload();
    }
    return false;
  }

  // An entry point missing from both libraries fails the load rather than
  // leave a null pointer to be called later.
  bool LookUp() {
    for (int i = 0; i < kFnCount; ++i) {
      fns_[i] = nullptr;
      for (const char* name : kEntries[i].names) {
        if (name == nullptr || fns_[i] != nullptr) break;
        fns_[i] = platform::dynlib::Symbol(ssl_, name);
        if (fns_[i] == nullptr) fns_[i] = platform::dynlib::Symbol(crypto_, name);
      }
      if (kEntries[i].required && fns_[i] == nullptr) return false;
    }
    return fns_[kInitSsl] != nullptr || fns_[kLibraryInit] != nullptr;
  }

  // On POSIX an unversioned "libssl.so" may be any release; 1.0 and older
  // have known protocol flaws, so only 1.1 or later is taken. 1.1 added
  // OpenSSL_version_num, so its absence marks an older release. The Windows
  // names are fixed by release and tried newest first.
  bool RecentEnough() const {
    if (platform::dynlib::kWindowsNames) return true;
    auto version =
        reinterpret_cast<VersionNumFn>(platform::dynlib::Symbol(crypto_, "OpenSSL_version_num"));
    return version != nullptr && version() >= kVersion1_1;
  }

  void Initialise() {
    if (fns_[kInitSsl] != nullptr) {
      Get<InitSslFn>(kInitSsl)(kInitLoadSslStrings | kInitLoadCryptoStrings, nullptr);
      return;
    }
    Get<IntFn>(kLibraryInit)();
    if (fns_[kLoadErrorStrings] != nullptr) Get<VoidFn>(kLoadErrorStrings)();
  }

  void UnloadIfUnused() {
    if (refs_ == 0 && holds_ == 0) Unload();
  }

  void Unload() {
    for (const auto& entry : contexts_) Get<FreeFn>(kCtxFree)(entry.second);
    contexts_.clear();
    if (method_) Get<FreeFn>(kBioMethFree)(method_);
    method_ = nullptr;
    if (crypto_) platform::dynlib::Close(crypto_);
    if (ssl_) platform::dynlib::Close(ssl_);
    ssl_ = crypto_ = nullptr;
  }

  // The reads and writes of SocketBio, for every session while the library
  // is loaded; null when the library has no BIO_meth_new.
  void MakeSocketMethod();

  std::mutex mutex_;
  int refs_ = 0;
  int holds_ = 0;
  std::vector<std::pair<std::string, void*>> contexts_;
  void* method_ = nullptr;
  platform::dynlib::Library ssl_ = nullptr;
  platform::dynlib::Library crypto_ = nullptr;
  void* fns_[kFnCount] = {};
  std::vector<std::string> test_ssl_, test_crypto_;
};

Library& Lib() { return Library::Instance(); }

// The TLS library reads and writes the connection through these instead of
// its own socket calls: its writes could raise SIGPIPE, which kills a
// process that does not ignore it, while the socket layer's sends never do.
// Each call is one receive or send; a socket with nothing to give or no
// room asks the library to retry, which it reports as wanting to read or
// write.
namespace socket_bio {

TlsSession::Link* LinkOf(void* bio) {
  return static_cast<TlsSession::Link*>(Lib().Get<BioGetDataFn>(kBioGetData)(bio));
}

// The result of one socket call as the library expects it.
int Finish(void* bio, int rc, int done, int retry_flag) {
  Lib().Get<BioSetIntFn>(kBioClearFlags)(bio, kBioFlagsRws | kBioFlagsShouldRetry);
  if (rc == 0) return done;
  if (rc == platform::net::kErrWouldBlock) {
    Lib().Get<BioSetIntFn>(kBioSetFlags)(bio, retry_flag | kBioFlagsShouldRetry);
  }
  return -1;
}

// The library reads ahead (see Attach): each receive goes straight into its
// buffer and takes as much as has come, records of a small reply and the
// bulk of a long one alike.
int Read(void* bio, char* buffer, int length) {
  TlsSession::Link* link = LinkOf(bio);
  int received = 0;
  int rc = 0;
  if (link->wait != nullptr) {
    rc = link->api->ReceiveWithin(link->socket, buffer, length, *link->wait, &received);
    link->wait = nullptr;
    link->wait_rc = rc;
  } else {
    rc = link->api->Receive(link->socket, buffer, length, &received);
  }
  if (rc == 0) {
    link->drained = received < length;
    if (received == 0 && length > 0) link->ended = true;
  }
  return Finish(bio, rc, received, kBioFlagsRead);
}

int Write(void* bio, const char* buffer, int length) {
  TlsSession::Link* link = LinkOf(bio);
  int sent = 0;
  const int rc = link->api->Send(link->socket, buffer, length, &sent);
  return Finish(bio, rc, sent, kBioFlagsWrite);
}

// Every write goes straight to the socket, so there is nothing to flush.
// The end of the peer's data is told apart from a failed receive, so that a
// peer that stops in the middle of a record is reported as such.
long Control(void* bio, int command, long, void*) {
  if (command == kBioCtrlFlush) return 1;
  if (command == kBioCtrlEof) return LinkOf(bio)->ended ? 1 : 0;
  return 0;
}

}  // namespace socket_bio

void Library::MakeSocketMethod() {
  for (int fn = kBioMethNew; fn <= kSetReadBufferLen; ++fn) {
    if (fns_[fn] == nullptr) return;
  }
  if (fns_[kCtrl] == nullptr) return;
  method_ = Get<BioMethNewFn>(kBioMethNew)(kBioTypeEmailSocket, "email socket");
  if (method_ == nullptr) return;
  Get<BioMethSetReadFn>(kBioMethSetRead)(method_, socket_bio::Read);
  Get<BioMethSetWriteFn>(kBioMethSetWrite)(method_, socket_bio::Write);
  Get<BioMethSetCtrlFn>(kBioMethSetCtrl)(method_, socket_bio::Control);
}

}  // namespace

TlsSession::~TlsSession() {
  if (ssl_) Lib().Get<FreeFn>(kFree)(ssl_);
  if (loaded_) Lib().Release();
}

bool TlsSession::Open(const std::string& cipher_list) {
  if (!Lib().Acquire()) return false;
  loaded_ = true;
  void* context = Lib().Context(cipher_list);
  ssl_ = context ? Lib().Get<SslNewFn>(kNew)(context) : nullptr;
  return ssl_ != nullptr;
}

bool TlsSession::Attach(platform::net::SocketApi* api, platform::net::Handle socket) {
  void* method = Lib().SocketMethod();
  // Only releases before 1.1 lack the method; they are taken on Windows
  // alone, which has no SIGPIPE.
  if (method == nullptr) return Lib().Get<SetFdFn>(kSetFd)(ssl_, static_cast<int>(socket)) >= 1;
  void* bio = Lib().Get<BioNewFn>(kBioNew)(method);
  if (bio == nullptr) return false;
  link_ = Link();
  link_.api = api;
  link_.socket = socket;
  Lib().Get<BioSetDataFn>(kBioSetData)(bio, &link_);
  Lib().Get<BioSetIntFn>(kBioSetInit)(bio, 1);
  // The handle owns the one reference and frees it with itself.
  Lib().Get<SetBioFn>(kSetBio)(ssl_, bio, bio);
  // Reading ahead into a buffer of several records, one receive brings
  // what has come; without it the library receives each record's header
  // and body apart and asks once more for what is not there.
  Lib().Get<CtrlFn>(kCtrl)(ssl_, kCtrlSetReadAhead, 1, nullptr);
  Lib().Get<SetLengthFn>(kSetReadBufferLen)(ssl_, kReadAheadRoom);
  reads_ahead_ = true;
  return true;
}

TlsSession::Status TlsSession::Result(int rc, int* done) {
  if (rc > 0) {
    if (done) *done = rc;
    return Status::kOk;
  }
  switch (Lib().Get<GetErrorFn>(kGetError)(ssl_, rc)) {
    case kSslErrorNone:
      return Status::kOk;
    case kSslErrorWantRead:
      return Status::kWantRead;
    case kSslErrorWantWrite:
      return Status::kWantWrite;
    case kSslErrorZeroReturn:
      return Status::kClosed;
    default:
      return Status::kFailed;
  }
}

// SSL_set_tlsext_host_name is a macro over SSL_ctrl, which copies the name.
void TlsSession::SetServerName(const std::string& name) {
  if (Lib().Get<CtrlFn>(kCtrl) == nullptr) return;
  Lib().Get<CtrlFn>(kCtrl)(ssl_, kCtrlSetTlsextHostname, kTlsextNametypeHostName,
                           const_cast<char*>(name.c_str()));
}

// The error queue must be empty before each call, or SSL_get_error may
// report a stale failure.
TlsSession::Status TlsSession::Handshake() {
  Lib().Get<VoidFn>(kErrClearError)();
  return Result(Lib().Get<SslFn>(kConnect)(ssl_), nullptr);
}

TlsSession::Status TlsSession::Read(void* buffer, int length, int* done,
                                    const platform::net::SocketApi::ReceiveWait* wait) {
  Lib().Get<VoidFn>(kErrClearError)();
  link_.wait = wait;
  link_.wait_rc = 0;
  const int rc = Lib().Get<ReadFn>(kRead)(ssl_, buffer, length);
  link_.wait = nullptr;
  return Result(rc, done);
}

TlsSession::Status TlsSession::Write(const void* buffer, int length, int* done) {
  Lib().Get<VoidFn>(kErrClearError)();
  return Result(Lib().Get<WriteFn>(kWrite)(ssl_, buffer, length), done);
}

TlsSession::Status TlsSession::Shutdown() {
  Lib().Get<VoidFn>(kErrClearError)();
  int rc = Lib().Get<SslFn>(kShutdown)(ssl_);
  // 0: our close was sent, the peer's not awaited.
  return rc >= 0 ? Status::kOk : Result(rc, nullptr);
}

int TlsSession::Pending() { return ssl_ ? Lib().Get<PendingFn>(kPending)(ssl_) : 0; }

bool TlsSession::HoldsInput() {
  if (!reads_ahead_) return Pending() > 0;
  return Lib().Get<PendingFn>(kHasPending)(ssl_) != 0;
}

unsigned long TlsSession::TakeError(std::string* text) {
  text->clear();
  if (!loaded_) return 0;
  unsigned long code = Lib().Get<ErrGetFn>(kErrGetError)();
  Lib().Get<VoidFn>(kErrClearError)();
  if (code != 0) {
    char buffer[256];
    Lib().Get<ErrStringFn>(kErrErrorStringN)(code, buffer, sizeof buffer);
    *text = buffer;
  }
  return code;
}

void TlsSession::SetLibraryNamesForTesting(std::vector<std::string> ssl,
                                           std::vector<std::string> crypto) {
  Lib().SetNames(std::move(ssl), std::move(crypto));
}

TlsLibraryHold::TlsLibraryHold() { Lib().Hold(); }

TlsLibraryHold::~TlsLibraryHold() { Lib().Unhold(); }
