// The HTTP transport on libcurl: one easy handle per request driven by a multi handle, so the
// engine can pull the body chunk by chunk. The write callback buffers about one chunk and then
// pauses the transfer, which keeps memory flat however fast the peer sends.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace fw {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::mutex gCaMutex;
std::string gCaFile;

std::string CaFile() {
  std::lock_guard<std::mutex> lock(gCaMutex);
  return gCaFile;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

class CurlRequest final : public HttpRequest {
 public:
  CurlRequest(CURL* easy, CURLM* multi, curl_slist* headers, const HttpRequestOptions& options)
      : easy_(easy), multi_(multi), headers_(headers), options_(options) {
    isHttp_ = options.url.rfind("http", 0) == 0;
  }

  ~CurlRequest() override {
    curl_multi_remove_handle(multi_, easy_);
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
  }

  bool Attach(std::string* error) {
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errbuf_);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      *error = "curl_multi_add_handle failed";
      return false;
    }
    return true;
  }

  HttpWait Send(HttpResponseHead* head, std::string* error) override {
    lastActivity_ = NowMs();
    for (;;) {
      if (headDone_) {
        *head = head_;
        return HttpWait::Ok;
      }
      if (done_) {
        if (result_ != CURLE_OK) {
          *error = ErrorText();
          return HttpWait::Failed;
        }
        // A response without body and without a head we could recognise (FTP of an empty file).
        if (!isHttp_ && head_.status == 0) head_.status = options_.range.empty() ? 200 : 206;
        headDone_ = true;
        continue;
      }
      const HttpWait w = Pump(error);
      if (w != HttpWait::Ok) return w;
    }
  }

  // The body goes straight into the caller's buffer while a read waits; what arrives beyond it
  // (or between reads) is kept in the pending buffer, about one chunk at most.
  HttpWait Read(char* buffer, size_t size, size_t* got, std::string* error) override {
    *got = 0;
    want_ = std::max<size_t>(size, 1);
    lastActivity_ = NowMs();
    if (failed_ != HttpWait::Ok && Buffered() == 0) {  // reported once the bytes are handed over
      *error = failedText_;
      return failed_;
    }
    const size_t n = std::min(Buffered(), size);
    if (n > 0) std::memcpy(buffer, pending_.data() + offset_, n);
    offset_ += n;
    if (offset_ == pending_.size()) {
      pending_.clear();
      offset_ = 0;
    } else if (offset_ > pending_.size() / 2) {
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(offset_));
      offset_ = 0;
    }
    dest_ = buffer;
    destCap_ = size;
    destFilled_ = n;
    for (;;) {
      if (destFilled_ == size || ((done_ || failed_ != HttpWait::Ok) && destFilled_ > 0)) {
        *got = destFilled_;
        dest_ = nullptr;
        return HttpWait::Ok;
      }
      if (failed_ != HttpWait::Ok) {
        dest_ = nullptr;
        *error = failedText_;
        return failed_;
      }
      if (done_) {
        dest_ = nullptr;
        if (result_ == CURLE_OK) return HttpWait::Ok;
        *error = ErrorText();
        return HttpWait::Failed;
      }
      if (paused_) {  // the caller wants more than is buffered: let the transfer go on
        paused_ = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
        continue;
      }
      const HttpWait w = Pump(error);
      if (w != HttpWait::Ok) {
        // A stall or a cancel after some bytes: those bytes are handed over first (the caller
        // keeps them and a resume starts behind them), the failure comes with the next call.
        failed_ = w;
        failedText_ = *error;
      }
    }
  }

 private:
  size_t Buffered() const { return pending_.size() - offset_; }

  // The library's detailed message where it has one ("Could not resolve host: x", "SSL
  // certificate problem: ..."), and the system's reason for a failed connection ("Connection
  // refused"), which the message leaves out.
  std::string ErrorText() const {
    std::string text = errbuf_[0] != '\0' ? errbuf_ : curl_easy_strerror(result_);
    long osErrno = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK && osErrno != 0)
      text += std::string(" (") + std::strerror(static_cast<int>(osErrno)) + ")";
    return text;
  }

  // One round of the multi handle: runs the transfer, waits up to 100 ms for the socket, checks
  // cancel and the stall limit.
  HttpWait Pump(std::string* error) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
        done_ = true;
        result_ = msg->data.result;
      }
    }
    if (done_) return HttpWait::Ok;
    if (options_.cancelled && options_.cancelled()) {
      *error = "cancelled";
      return HttpWait::Cancelled;
    }
    if (NowMs() - lastActivity_ > options_.stallTimeoutMs) {
      *error = "no data received for " + std::to_string(options_.stallTimeoutMs / 1000) + " s";
      return HttpWait::Failed;
    }
    if (!paused_) curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    return HttpWait::Ok;
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlRequest*>(user);
    const size_t len = size * count;
    if (!self->headDone_) {
      if (!self->isHttp_) self->head_.status = self->options_.range.empty() ? 200 : 206;
      self->headDone_ = true;
    }
    if (self->dest_ && self->destFilled_ < self->destCap_) {
      const size_t k = std::min(len, self->destCap_ - self->destFilled_);
      std::memcpy(self->dest_ + self->destFilled_, data, k);
      self->destFilled_ += k;
      self->pending_.insert(self->pending_.end(), data + k, data + len);
      self->lastActivity_ = NowMs();
      return len;
    }
    if (self->Buffered() >= self->want_) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    self->pending_.insert(self->pending_.end(), data, data + len);
    self->lastActivity_ = NowMs();
    return len;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlRequest*>(user);
    const size_t len = size * count;
    self->lastActivity_ = NowMs();
    if (!self->isHttp_ || self->headDone_) return len;
    const std::string line(data, len);
    HttpResponseHead& h = self->head_;
    if (StartsWithNoCase(line, "http/")) {
      h = HttpResponseHead{};
      self->location_ = false;
      const size_t sp = line.find(' ');
      if (sp != std::string::npos) {
        h.status = std::atoi(line.c_str() + sp + 1);
        const size_t sp2 = line.find(' ', sp + 1);
        if (sp2 != std::string::npos) h.statusText = Trim(line.substr(sp2 + 1));
      }
    } else if (line == "\r\n" || line == "\n") {
      const bool interim = h.status >= 100 && h.status < 200;
      const bool redirect = h.status >= 300 && h.status < 400 && self->location_;
      if (!interim && !redirect) self->headDone_ = true;
    } else {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) {
        const std::string name = line.substr(0, colon);
        const std::string value = Trim(line.substr(colon + 1));
        if (StartsWithNoCase(name, "content-type") && name.size() == 12) h.contentType = value;
        if (StartsWithNoCase(name, "content-length") && name.size() == 14)
          h.contentLength = std::strtoll(value.c_str(), nullptr, 10);
        if (StartsWithNoCase(name, "content-range") && name.size() == 13) h.contentRange = value;
        if (StartsWithNoCase(name, "location") && name.size() == 8) self->location_ = true;
      }
    }
    return len;
  }

  CURL* easy_;
  CURLM* multi_;
  curl_slist* headers_;
  HttpRequestOptions options_;
  bool isHttp_ = true;
  char errbuf_[CURL_ERROR_SIZE] = {};
  HttpResponseHead head_;
  bool headDone_ = false;
  bool location_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;
  HttpWait failed_ = HttpWait::Ok;  // a stall or cancel not yet reported to the caller
  std::string failedText_;
  size_t want_ = 65536;
  std::vector<char> pending_;
  size_t offset_ = 0;
  char* dest_ = nullptr;  // the waiting read's buffer
  size_t destCap_ = 0;
  size_t destFilled_ = 0;
  int64_t lastActivity_ = 0;
};

class CurlTransport final : public HttpTransport {
 public:
  bool Available() override {
    std::call_once(once_, [this] { ok_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok_;
  }

  std::unique_ptr<HttpRequest> Open(const HttpRequestOptions& options,
                                    std::string* error) override {
    if (!Available()) {
      *error = "curl_global_init failed";
      return nullptr;
    }
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
      if (easy) curl_easy_cleanup(easy);
      if (multi) curl_multi_cleanup(multi);
      *error = "curl handles cannot be created";
      return nullptr;
    }
    const bool ftp = options.url.rfind("ftp", 0) == 0;
    curl_slist* headers = nullptr;
    if (options.pragmaNoCache) {
      headers = curl_slist_append(headers, "Pragma: no-cache");
      headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    if (!options.range.empty() && !ftp)
      headers = curl_slist_append(headers, ("Range: " + options.range).c_str());
    auto request = std::make_unique<CurlRequest>(easy, multi, headers, options);

    curl_easy_setopt(easy, CURLOPT_URL, options.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    if (options.port > 0) curl_easy_setopt(easy, CURLOPT_PORT, static_cast<long>(options.port));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.stallTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string ca = CaFile();
    if (!ca.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, ca.c_str());
    if (!options.userAgent.empty())
      curl_easy_setopt(easy, CURLOPT_USERAGENT, options.userAgent.c_str());
    if (!options.referer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, options.referer.c_str());
    if (headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (ftp && !options.range.empty() && options.range.rfind("bytes=", 0) == 0)
      curl_easy_setopt(easy, CURLOPT_RANGE, options.range.substr(6).c_str());
    if (!options.user.empty() || !options.password.empty()) {
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy, CURLOPT_USERNAME, options.user.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, options.password.c_str());
    }
    if (options.explicitProxy) {
      curl_easy_setopt(easy, CURLOPT_PROXY, options.proxy.c_str());
      if (!options.proxyUser.empty())
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
      if (!options.proxyPassword.empty())
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
    }
    if (!request->Attach(error)) return nullptr;
    return request;
  }

 private:
  std::once_flag once_;
  bool ok_ = false;
};

CurlTransport gCurl;
std::atomic<HttpTransport*> gTransport{&gCurl};

}  // namespace

HttpTransport& TheHttpTransport() { return *gTransport.load(); }
void SetHttpTransportForTesting(HttpTransport* transport) {
  gTransport = transport ? transport : &gCurl;
}

void SetHttpCaFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(gCaMutex);
  gCaFile = path;
}

std::string HttpTransportErrorText(int code) {
  const char* text = curl_easy_strerror(static_cast<CURLcode>(code));
  return text ? text : "";
}

}  // namespace fw
