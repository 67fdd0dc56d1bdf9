// One HTTP/HTTPS/FTP GET at a time, pulled chunk by chunk: the download engine (net/http_get.h)
// opens a request, sends it, looks at the response head and then reads the body in chunks of its
// own size. The Linux implementation sits on libcurl (platform/linux/curl_transport.cpp), so no
// core file needs a curl header; unit tests install their own transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fw {

struct HttpRequestOptions {
  std::string url;  // scheme://host[:port]/path, the scheme in lower case
  int port = 0;     // explicit server port; 0 uses the URL's (or the scheme's default)
  std::string referer;
  std::string userAgent;
  bool pragmaNoCache = true;
  std::string range;  // "bytes=A-B" (sent as the Range header); empty sends none
  std::string user;   // server credentials for basic authentication; empty sends none
  std::string password;
  bool explicitProxy = false;  // false: the system's proxy settings (http_proxy and friends)
  std::string proxy;           // host:port
  std::string proxyUser;
  std::string proxyPassword;
  // A request that receives nothing for this long counts as a broken connection.
  int64_t stallTimeoutMs = 60000;
  // Polled while the request waits for the network; true ends the wait with Cancelled.
  std::function<bool()> cancelled;
};

struct HttpResponseHead {
  int status = 0;  // numeric status; 0 when none could be read
  std::string statusText;
  std::string contentType;
  int64_t contentLength = -1;  // -1 when the response has none
  std::string contentRange;
};

enum class HttpWait { Ok, Failed, Cancelled };

class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends the request and waits for the final response head (redirects are followed).
  virtual HttpWait Send(HttpResponseHead* head, std::string* error) = 0;
  // Reads up to `size` bytes of the body into `buffer`: fewer only at the body's end. Returns the
  // count (0 at the end) through `got`. A failure after some bytes hands those bytes over first
  // and reports the failure on the next call.
  virtual HttpWait Read(char* buffer, size_t size, size_t* got, std::string* error) = 0;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // False when the transport library cannot be initialised.
  virtual bool Available() = 0;
  // Creates the request; null (with `error`) when it cannot be created.
  virtual std::unique_ptr<HttpRequest> Open(const HttpRequestOptions& options,
                                            std::string* error) = 0;
};

// The process's transport (libcurl unless a test installed another).
HttpTransport& TheHttpTransport();
// nullptr restores the real one.
void SetHttpTransportForTesting(HttpTransport* transport);

// Certificate bundle for HTTPS peers; empty uses the system's bundle.
void SetHttpCaFile(const std::string& path);

// Text of a libcurl result code (for logs and messages), "" for an unknown code.
std::string HttpTransportErrorText(int code);

}  // namespace fw
