#include "net/HttpClient.h"

#include <curl/curl.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <limits>
#include <mutex>
#include <string_view>
#include <utility>

#include "net/HttpStatusText.h"
#include "net/HttpUrl.h"
#include "net/Trim.h"

namespace quillet {

// One request: the settings taken from the client when it started, the transport handle, and
// what the worker found. Shared by the client and the job, so a job that outlives its client
// (abandoned at shutdown) touches nothing but this.
struct THttpRequest {
  std::string url, agent, acceptTypes, referer, username, password;
  std::vector<std::string> addHeaders;
  TCacheOptions cacheOptions = 0;
  TInternetOptions internetOptions = 0;
  THttpProxy proxy;
  THttpTimeouts timeouts;
  int32_t transferBufferSize = 4096;
  bool workOffline = false;
  THttpRedirected onRedirected;
  THttpBeforeSendRequest onBeforeSendRequest;
  THttpStatusChanged onStatusChanged;
  bool wantProgress = false;
  TCustomHttpClient* client = nullptr;  // dereferenced only in calls run on the UI thread

  int32_t status = kNoHttpStatus;
  std::string contentType;
  int32_t announced = 0;
  int64_t bytesRead = 0;
  bool success = false;
  bool continueDownload = true;
  bool transferComplete = false;
  uint32_t flags = 0;
  std::chrono::steady_clock::time_point start;
  std::unique_ptr<TMemoryStream> body = std::make_unique<TMemoryStream>();

  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  bool followRedirects = true;

  // The response whose headers are arriving.
  bool headersDone = false;
  bool requestSentReported = false;
  std::string responseContentType;
  std::string responseLength;
  bool responseLengthPresent = false;
  std::string location;
  // A redirect is reported when the transport follows it, which it may decline (too many).
  bool redirectPending = false;
  std::string redirectUrl;

  std::exception_ptr callbackError;  // raised inside a transport callback, passed on after it

  // The worker-side events belong to the client: once it has gone they are not called again.
  std::mutex eventsLock;
  bool detached = false;
  template <typename Call>
  void WithClientEvents(Call call) {
    std::lock_guard lock(eventsLock);
    if (!detached) call();
  }
  void Detach() {
    std::lock_guard lock(eventsLock);
    detached = true;
  }

  // The transfer's driver while it runs. Another thread wakes it so that it looks at its
  // terminate mark at once rather than at its next time-out.
  std::mutex transferLock;
  CURLM* multi = nullptr;
  void Wake() {
    std::lock_guard lock(transferLock);
    if (multi) curl_multi_wakeup(multi);
  }

  ~THttpRequest() { Close(); }
  void Close() {
    if (curl) curl_easy_cleanup(curl);
    curl = nullptr;
    if (headers) curl_slist_free_all(headers);
    headers = nullptr;
  }
};

namespace {

bool Terminated() {
  TEventWorkerThread* self = TEventWorkerThread::Current();
  return self && self->Terminated();
}

void ReportStatus(THttpRequest& r, int id) {
  if (!r.onStatusChanged) return;
  r.WithClientEvents([&] { r.onStatusChanged(r.client, id, HttpStatusText(id)); });
}

// A header line loses its line end with its blanks.
std::string_view Trim(std::string_view text) { return TrimBlanks(text, " \t\r\n"); }

bool NameIs(std::string_view name, std::string_view wanted) {
  return name.size() == wanted.size() && strncasecmp(name.data(), wanted.data(), name.size()) == 0;
}

// Content-Length in decimal; 0 when it is not a number a 32-bit length can hold.
int32_t AnnouncedLengthOf(std::string_view text) {
  text = Trim(text);
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return 0;
  return value;
}

// OK and Partial Content: the statuses whose body is the resource.
bool CarriesBody(int32_t status) { return status == 200 || status == 206; }

bool IsFollowedRedirect(long code) {
  return code == 300 || code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::string ResolveLocation(THttpRequest& r) {
  char* current = nullptr;
  curl_easy_getinfo(r.curl, CURLINFO_EFFECTIVE_URL, &current);
  CURLU* handle = curl_url();
  std::string resolved = r.location;
  if (handle && current && curl_url_set(handle, CURLUPART_URL, current, 0) == CURLUE_OK &&
      curl_url_set(handle, CURLUPART_URL, r.location.c_str(), CURLU_ALLOW_SPACE) == CURLUE_OK) {
    char* full = nullptr;
    if (curl_url_get(handle, CURLUPART_URL, &full, 0) == CURLUE_OK && full) {
      resolved = full;
      curl_free(full);
    }
  }
  curl_url_cleanup(handle);
  return resolved;
}

int32_t Clamp32(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

void ReportProgress(THttpRequest& r) {
  const int64_t elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - r.start)
                                .count();
  const double seconds = std::max<double>(static_cast<double>(elapsedMs), 1.0) / 1000.0;
  const float rate = static_cast<float>(static_cast<double>(r.bytesRead) / 1024.0 / seconds);
  int32_t percent = 0;
  int32_t left = 0;
  if (r.announced > 0) {
    percent = static_cast<int32_t>(std::min<int64_t>(100, r.bytesRead * 100 / r.announced));
    const int64_t remaining = std::max<int64_t>(0, r.announced - r.bytesRead);
    if (rate > 0) left = static_cast<int32_t>(static_cast<double>(remaining) / 1024.0 / rate);
  }
  const int32_t elapsed = static_cast<int32_t>(elapsedMs / 1000);
  TEventWorkerThread::Current()->Synchronize([&] {
    TCustomHttpClient* client = r.client;
    if (client->OnProgress)
      client->OnProgress(client, r.contentType, r.announced, Clamp32(r.bytesRead), elapsed, left,
                         percent, rate, *r.body);
  });
}

// ---- transport callbacks, on the worker; errors must not cross the library ----

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto& r = *static_cast<THttpRequest*>(user);
  const size_t length = size * count;
  try {
    if (Terminated()) return 0;
    const std::string_view line = Trim(std::string_view(data, length));
    if (line.substr(0, 5) == "HTTP/") {
      if (!r.requestSentReported) ReportStatus(r, hsRequestSent);
      r.requestSentReported = true;
      ReportStatus(r, hsReceivingResponse);
      r.headersDone = false;
      r.responseContentType.clear();
      r.responseLength.clear();
      r.responseLengthPresent = false;
      r.location.clear();
      return length;
    }
    if (!line.empty()) {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) return length;
      const std::string_view name = Trim(line.substr(0, colon));
      const std::string_view value = Trim(line.substr(colon + 1));
      if (NameIs(name, "Content-Type")) r.responseContentType = value;
      if (NameIs(name, "Content-Length")) {
        r.responseLength = value;
        r.responseLengthPresent = true;
      }
      if (NameIs(name, "Location")) r.location = value;
      return length;
    }
    long code = 0;
    curl_easy_getinfo(r.curl, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200) return length;  // an interim reply; the real one follows
    if (r.followRedirects && IsFollowedRedirect(code) && !r.location.empty()) {
      r.requestSentReported = false;
      r.redirectPending = true;
      r.redirectUrl = ResolveLocation(r);
      return length;
    }
    r.headersDone = true;
    ReportStatus(r, hsResponseReceived);
    r.contentType = r.responseContentType;
    r.announced = AnnouncedLengthOf(r.responseLength);
    // A body we would not keep is not waited for.
    if (static_cast<size_t>(r.announced) > kMaxBodySize) return 0;
    if (r.responseLengthPresent && r.announced > 0) r.body->Reserve(static_cast<size_t>(r.announced));
    return length;
  } catch (...) {
    r.callbackError = std::current_exception();
    return 0;
  }
}

size_t OnBodyData(char* data, size_t size, size_t count, void* user) {
  auto& r = *static_cast<THttpRequest*>(user);
  const size_t length = size * count;
  // The reply is small; a server that keeps sending must not fill our memory.
  if (static_cast<uint64_t>(r.bytesRead) + length > kMaxBodySize) return 0;
  try {
    const size_t chunk = static_cast<size_t>(r.transferBufferSize);
    for (size_t offset = 0; offset < length;) {
      if (Terminated()) return 0;
      const size_t n = std::min(chunk, length - offset);
      r.body->Write(data + offset, n);
      r.bytesRead += static_cast<int64_t>(n);
      offset += n;
      if (r.wantProgress) ReportProgress(r);
    }
    return length;
  } catch (...) {
    r.callbackError = std::current_exception();
    return 0;
  }
}

// The transport is on its way to the redirect's target: the redirect has been followed.
void ReportFollowedRedirect(THttpRequest& r) {
  if (!r.redirectPending) return;
  r.redirectPending = false;
  ReportStatus(r, hsRedirect);
  if (r.onRedirected) r.WithClientEvents([&] { r.onRedirected(r.client, r.redirectUrl); });
}

int OnTransferInfo(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return Terminated() ? 1 : 0;
}

// A stage of the transfer begins: a redirect being followed is reported first, then the stage's
// two statuses. False aborts the transfer (terminated, or a handler raised).
bool BeginStage(THttpRequest& r, THttpStatusId reached, THttpStatusId starting) {
  try {
    if (Terminated()) return false;
    ReportFollowedRedirect(r);
    ReportStatus(r, reached);
    ReportStatus(r, starting);
    return true;
  } catch (...) {
    r.callbackError = std::current_exception();
    return false;
  }
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  auto& r = *static_cast<THttpRequest*>(user);
  if (!BeginStage(r, hsNameResolved, hsConnectingToServer)) return CURL_SOCKET_BAD;
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int OnBeforeRequest(void* user, char*, char*, int, int) {
  auto& r = *static_cast<THttpRequest*>(user);
  return BeginStage(r, hsConnected, hsSendingRequest) ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

bool ValidHeaderLine(const std::string& line) {
  return line.find(':') != std::string::npos && line.find_first_of("\r\n") == std::string::npos;
}

// Appends a header line; false when the list could not grow.
bool AddHeader(THttpRequest& r, const std::string& line) {
  curl_slist* grown = curl_slist_append(r.headers, line.c_str());
  if (!grown) return false;
  r.headers = grown;
  return true;
}

// The address, the request line's companions and the redirect policy; false when the transport
// refuses the address.
bool SetTarget(THttpRequest& r, const TUrlParts& parts) {
  CURL* h = r.curl;
  const std::string url = RequestURL(parts);
  const bool ok = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // A transfer stopped during a name lookup leaves the lookup to finish on its own instead of
  // waiting for it: an unanswered lookup must not hold up the end of the program.
  curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_USERAGENT, r.agent.c_str());
  if (!r.referer.empty()) curl_easy_setopt(h, CURLOPT_REFERER, r.referer.c_str());

  r.followRedirects = !HasOption(r.internetOptions, ioNoAutoRedirect);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, r.followRedirects ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 30L);
  return ok;
}

void SetProxy(THttpRequest& r) {
  CURL* h = r.curl;
  const TProxySetting proxy = ProxySettingFor(r.proxy);
  if (proxy.UseEnvironment) return;
  curl_easy_setopt(h, CURLOPT_PROXY, proxy.Proxy.c_str());
  if (!proxy.NoProxy.empty()) curl_easy_setopt(h, CURLOPT_NOPROXY, proxy.NoProxy.c_str());
  if (!r.proxy.ProxyUsername.empty()) {
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, r.proxy.ProxyUsername.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, r.proxy.ProxyPassword.c_str());
  }
}

// The credentials, and what the security options waive.
void SetSecurity(THttpRequest& r, const TUrlParts& parts) {
  CURL* h = r.curl;
  const std::string& user = parts.UserName.empty() ? r.username : parts.UserName;
  const std::string& password = parts.Password.empty() ? r.password : parts.Password;
  if (!user.empty() && !HasOption(r.internetOptions, ioNoAuthentication)) {
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
  }
  if (HasOption(r.internetOptions, ioIgnoreCertificateInvalid))
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  if (HasOption(r.internetOptions, ioIgnoreUnknownCertificateAuthority))
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
}

void SetTimeouts(THttpRequest& r) {
  CURL* h = r.curl;
  if (r.timeouts.ConnectTimeout)
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.timeouts.ConnectTimeout));
  if (r.timeouts.ReceiveTimeout) {
    // Nothing received for that long ends the request; the transport counts whole seconds.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>((r.timeouts.ReceiveTimeout + 999) / 1000));
  }
}

// The read size and the callbacks that carry the transfer to the request.
void SetCallbacks(THttpRequest& r) {
  CURL* h = r.curl;
  // The transport's own limits are 1 KiB and 10 MiB; half a MiB per read is plenty.
  const long bufferSize = std::clamp<long>(r.transferBufferSize, 1024, 512 * 1024);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, bufferSize);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &r);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBodyData);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &r);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &r);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnBeforeRequest);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &r);
}

// Builds the header list; false at the first line that is not a header or cannot be added.
bool AddHeaders(THttpRequest& r) {
  if (!AddHeader(r, r.acceptTypes.empty() ? "Accept:" : "Accept: " + r.acceptTypes)) return false;
  if (HasOption(r.cacheOptions, coPragmaNoCache) && !AddHeader(r, "Pragma: no-cache")) return false;
  for (const std::string& line : r.addHeaders) {
    if (line.empty()) continue;
    if (!ValidHeaderLine(line) || !AddHeader(r, line)) return false;
  }
  return true;
}

// Sets up the transport handle; false ends the request as unreachable.
bool PrepareTransfer(THttpRequest& r, const TUrlParts& parts) {
  bool ok = SetTarget(r, parts);
  SetProxy(r);
  SetSecurity(r, parts);
  SetTimeouts(r);
  SetCallbacks(r);
  ok = ok && AddHeaders(r);
  curl_easy_setopt(r.curl, CURLOPT_HTTPHEADER, r.headers);
  return ok;
}

// Runs the transfer on a driver of our own, so that a request asked to stop can be woken at once.
CURLcode Perform(THttpRequest& r) {
  CURLM* multi = curl_multi_init();
  if (!multi) return CURLE_OUT_OF_MEMORY;
  if (curl_multi_add_handle(multi, r.curl) != CURLM_OK) {
    curl_multi_cleanup(multi);
    return CURLE_FAILED_INIT;
  }
  {
    std::lock_guard lock(r.transferLock);
    r.multi = multi;
  }
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left))
        if (message->msg == CURLMSG_DONE) result = message->data.result;
      break;
    }
    if (Terminated()) break;
    if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (Terminated()) break;
  }
  {
    std::lock_guard lock(r.transferLock);
    r.multi = nullptr;
  }
  curl_multi_remove_handle(multi, r.curl);
  curl_multi_cleanup(multi);
  return result;
}

// The request itself, on the worker thread.
void RunRequest(THttpRequest& r) {
  r.start = std::chrono::steady_clock::now();
  r.transferBufferSize = std::max<int32_t>(r.transferBufferSize, 255);

  std::optional<TUrlParts> parts = ParseURL(r.url);
  if (!parts || Terminated()) return;
  r.flags = ComputeRequestFlags(parts->Scheme, r.cacheOptions, r.internetOptions);
  // Offline, only a cache could answer, and there is none.
  if (r.workOffline) return;

  r.curl = curl_easy_init();
  if (!r.curl) return;
  ReportStatus(r, hsHandleCreated);
  if (Terminated() || !PrepareTransfer(r, *parts) || Terminated()) return;
  if (r.onBeforeSendRequest) r.WithClientEvents([&] { r.onBeforeSendRequest(r.client, r.curl); });
  if (Terminated()) return;

  ReportStatus(r, hsResolvingName);
  const CURLcode result = Perform(r);
  if (r.callbackError) std::rethrow_exception(std::exchange(r.callbackError, nullptr));
  r.transferComplete = result == CURLE_OK;
  if (r.headersDone) {
    long code = 0;
    curl_easy_getinfo(r.curl, CURLINFO_RESPONSE_CODE, &code);
    r.status = static_cast<int32_t>(code);
  }
  if (r.transferComplete) ReportStatus(r, hsRequestComplete);
  // A body cut short counts as lost even when no length was announced.
  r.success = CarriesBody(r.status) &&
              (r.announced == 0 || r.bytesRead == r.announced) && r.transferComplete;
}

}  // namespace

// ---- the component ----

TCustomHttpClient::TCustomHttpClient(TComponent* owner) : TLoginComponent(owner) {
  [[maybe_unused]] static const bool transportReady = curl_global_init(CURL_GLOBAL_DEFAULT) == 0;
  thread_ = std::make_unique<TCustomWorkerThread>(this);
  thread_->SetOnTerminate([this](TComponent*) { ThreadDone(); });
  thread_->SetOnException([this](TComponent*) { ThreadException(); });
  thread_->OnWaitTimeoutExpired = [this](TComponent*, bool& terminate) {
    ThreadWaitTimeoutExpired(terminate);
  };
}

TCustomHttpClient::~TCustomHttpClient() {
  *alive_ = false;
  Destroying();
  // A running request is marked terminated and woken, so it ends at once; one that still did
  // not end in time would be abandoned with its own state.
  thread_->Terminate(false);
  if (request_) request_->Wake();
  thread_.reset();
  if (request_) request_->Detach();
  request_.reset();
}

bool TCustomHttpClient::Read(bool ForceWait) { return ReadRange(0, 0, ForceWait); }

bool TCustomHttpClient::ReadRange(uint32_t StartRange, uint32_t EndRange, bool ForceWait) {
  if (busy_ || StartRange != 0 || EndRange != 0) return false;
  auto r = std::make_shared<THttpRequest>();
  r->url = URL;
  r->agent = Agent;
  r->acceptTypes = AcceptTypes;
  r->referer = Referer;
  r->username = Username;
  r->password = Password;
  r->addHeaders = AddHeaders;
  r->cacheOptions = CacheOptions;
  r->internetOptions = InternetOptions;
  r->proxy = Proxy;
  r->timeouts = Timeouts;
  r->transferBufferSize = TransferBufferSize;
  r->workOffline = WorkOffline;
  r->onRedirected = OnRedirected;
  r->onBeforeSendRequest = OnBeforeSendRequest;
  r->onStatusChanged = OnStatusChanged;
  r->wantProgress = static_cast<bool>(OnProgress);
  r->client = this;

  busy_ = true;
  statusCode_ = kNoHttpStatus;
  contentType_.clear();
  announcedLength_ = bytesRead_ = 0;
  success_ = false;
  requestFlags_ = 0;
  request_ = r;

  thread_->WaitThread = WaitThread || ForceWait;
  thread_->WaitTimeout = WaitTimeout;
  thread_->SetPriority(ThreadPriority);
  thread_->SetOnExecute([r](TComponent*) { RunRequest(*r); });
  try {
    return thread_->Execute();
  } catch (...) {
    // The worker could not be started: the client must not stay busy for ever.
    request_.reset();
    busy_ = false;
    throw;
  }
}

TMemoryStream* TCustomHttpClient::BodyStream() const {
  return request_ ? request_->body.get() : nullptr;
}

void TCustomHttpClient::ThreadDone() {
  // Both outlive a handler that frees the client: the body it was given, and the news of it.
  std::shared_ptr<THttpRequest> r = request_;
  const std::shared_ptr<bool> alive = alive_;
  if (!r) return;
  // Released even when a handler raises, so the client never stays busy.
  struct ReleaseOnExit {
    TCustomHttpClient* client;
    const std::shared_ptr<bool>& alive;
    ~ReleaseOnExit() {
      if (*alive) client->ReleaseHTTPStream();
    }
  } release{this, alive};
  statusCode_ = r->status;
  contentType_ = r->contentType;
  announcedLength_ = r->announced;
  bytesRead_ = Clamp32(r->bytesRead);
  success_ = r->success;
  requestFlags_ = r->flags;
  CloseHTTPHandles();
  r->body->SetPosition(0);
  if (r->continueDownload) ReportOutcome(*r, alive);
}

void TCustomHttpClient::ReportOutcome(THttpRequest& r, const std::shared_ptr<bool>& alive) {
  TMemoryStream& body = *r.body;
  if (success_) {
    if (OnDone) OnDone(this, contentType_, bytesRead_, body);
    return;
  }
  if (CarriesBody(statusCode_)) {
    if (OnConnLost) OnConnLost(this, contentType_, announcedLength_, bytesRead_, body);
  } else if (statusCode_ == kNoHttpStatus) {
    if (OnHostUnreachable) OnHostUnreachable(this);
  } else if (OnHTTPError) {
    OnHTTPError(this, statusCode_, body);
  }
  if (*alive && OnAnyError) OnAnyError(this);
}

void TCustomHttpClient::ThreadException() {
  if (OnAnyError) OnAnyError(this);
}

void TCustomHttpClient::ThreadWaitTimeoutExpired(bool& Terminate) {
  if (OnWaitTimeoutExpired) OnWaitTimeoutExpired(this, Terminate);
}

void TCustomHttpClient::CloseHTTPHandles() {
  if (!request_ || !request_->curl) return;
  ReportStatus(*request_, hsHandleClosing);
  request_->Close();
}

void TCustomHttpClient::ReleaseHTTPStream() {
  if (request_) request_->body.reset();
  request_.reset();
  busy_ = false;
}

}  // namespace quillet
