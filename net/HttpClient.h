#pragma once
// A reusable HTTP client component: fetches one URL at a time with GET on a worker thread of its
// own, collects the body in memory and reports the outcome through events on the UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/Component.h"
#include "net/HttpOptions.h"
#include "net/MemoryStream.h"
#include "net/WorkerThread.h"

namespace quillet {

using THttpDoneEvent = std::function<void(TComponent* Sender, const std::string& ContentType,
                                          int32_t FileSize, TMemoryStream& Stream)>;
using THttpErrorEvent =
    std::function<void(TComponent* Sender, int32_t ErrorCode, TMemoryStream& Stream)>;
using THttpConnLostEvent =
    std::function<void(TComponent* Sender, const std::string& ContentType, int32_t FileSize,
                       int32_t BytesRead, TMemoryStream& Stream)>;
using THttpProgressEvent = std::function<void(
    TComponent* Sender, const std::string& ContentType, int32_t DataSize, int32_t BytesRead,
    int32_t ElapsedTime, int32_t EstimatedTimeLeft, int32_t PercentsDone, float TransferRate,
    TMemoryStream& Stream)>;
using THttpRedirected = std::function<void(TComponent* Sender, const std::string& NewURL)>;
// hRequest is the transport's request handle (a CURL easy handle).
using THttpBeforeSendRequest = std::function<void(TComponent* Sender, void* hRequest)>;
using THttpStatusChanged =
    std::function<void(TComponent* Sender, int StatusID, const std::string& StatusStr)>;

inline constexpr char kDefaultHttpAgent[] = "Quillet HTTP client";
// The largest body a request takes; a longer one, sent or announced, ends the request as lost.
// The body stream is pre-sized from Content-Length, which is therefore never above this.
inline constexpr size_t kMaxBodySize = 1u << 20;
// StatusCode when no reply's status line was read (the host was not reached).
inline constexpr int32_t kNoHttpStatus = -1;

// Credentials used when the URL carries none.
class TLoginComponent : public TComponent {
 public:
  using TComponent::TComponent;
  std::string Username;
  std::string Password;
};

struct THttpRequest;

class TCustomHttpClient : public TLoginComponent {
 public:
  explicit TCustomHttpClient(TComponent* owner = nullptr);
  // A running request is told to stop and woken, so it ends at once; none of its events is
  // called afterwards.
  ~TCustomHttpClient() override;

  // Starts a GET of URL; false at once, changing nothing, while a request is running. With
  // ForceWait or WaitThread it blocks, keeping events flowing, until the request has ended or
  // WaitTimeout has passed without any event (then false unless the time-out was declined).
  bool Read(bool ForceWait);
  // Byte ranges are not supported: anything but (0, 0) is refused with false.
  bool ReadRange(uint32_t StartRange, uint32_t EndRange, bool ForceWait);

  std::string URL;
  std::string Agent = kDefaultHttpAgent;
  std::string AcceptTypes = "text/html, */*";
  std::string Referer;
  std::vector<std::string> AddHeaders;  // "Name: value" lines
  TCacheOptions CacheOptions = kDefaultCacheOptions;
  TInternetOptions InternetOptions = kDefaultInternetOptions;
  THttpProxy Proxy;
  THttpTimeouts Timeouts;
  int32_t TransferBufferSize = 4096;  // bytes per read, 255 to 2147483647
  bool WorkOffline = false;
  bool ShowGoOnlineMessage = false;  // no offline mode to leave on this platform
  bool WaitThread = false;
  uint32_t WaitTimeout = 0;
  TThreadPriority ThreadPriority = tpNormal;

  THttpDoneEvent OnDone;
  THttpErrorEvent OnHTTPError;
  THttpConnLostEvent OnConnLost;
  TNotifyEvent OnHostUnreachable;
  TNotifyEvent OnAnyError;
  THttpProgressEvent OnProgress;
  TWorkerWaitTimeoutExpired OnWaitTimeoutExpired;
  // These run on the worker thread; they are taken when the request starts.
  THttpRedirected OnRedirected;
  THttpBeforeSendRequest OnBeforeSendRequest;
  THttpStatusChanged OnStatusChanged;

  // The latest request's state; stays readable until the next request starts.
  bool Busy() const { return busy_; }
  int32_t StatusCode() const { return statusCode_; }
  const std::string& ContentType() const { return contentType_; }
  int32_t AnnouncedLength() const { return announcedLength_; }
  int32_t BytesRead() const { return bytesRead_; }
  bool Success() const { return success_; }
  uint32_t RequestFlags() const { return requestFlags_; }
  // The body while the completion events run; null once they have returned.
  TMemoryStream* BodyStream() const;

  TCustomWorkerThread& WorkerThread() { return *thread_; }

 private:
  void ThreadDone();
  void ThreadException();
  void ThreadWaitTimeoutExpired(bool& Terminate);
  void CloseHTTPHandles();
  void ReleaseHTTPStream();
  // Stops as soon as a handler frees the client, which must then not be touched again.
  void ReportOutcome(THttpRequest& request, const std::shared_ptr<bool>& alive);

  std::unique_ptr<TCustomWorkerThread> thread_;
  std::shared_ptr<THttpRequest> request_;
  bool busy_ = false;
  int32_t statusCode_ = kNoHttpStatus;
  std::string contentType_;
  int32_t announcedLength_ = 0;
  int32_t bytesRead_ = 0;
  bool success_ = false;
  uint32_t requestFlags_ = 0;
  // Cleared by the destructor, so the completion learns that a handler freed the client.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class THttpClient : public TCustomHttpClient {
 public:
  using TCustomHttpClient::TCustomHttpClient;
};

// Differs only in asking every cache on the way to revalidate.
class THttpClientNoCache : public THttpClient {
 public:
  explicit THttpClientNoCache(TComponent* owner = nullptr) : THttpClient(owner) {
    CacheOptions = kNoCacheClientCacheOptions;
  }
};

}  // namespace quillet
