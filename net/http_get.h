// The download engine: every network access of the program is one HTTPGetFromWeb call on the one
// transfer record TheHTTP(). A GET goes into a file or into memory, reports through three
// callbacks, and a broken file download is resumed with byte-range requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/http_transport.h"

// 1 while a network worker runs; the starter sets it (TryStartNetTransfer), the worker clears it
// at its end. It guards TheHTTP(): two transfers never share the record.
extern std::atomic<int> flgNetThreadRunning;

namespace fw {

inline constexpr int kHttpToFile = 23;
inline constexpr int kHttpToMemory = 24;
inline constexpr const char* kDefaultUserAgent = "InternetRecovery/1.0";
inline constexpr uint32_t kDefaultRequestFlags = 0x84000300;
inline constexpr uint32_t kRequestFlagPragmaNoCache = 0x00000100;
// A memory transfer (pages, catalogs, lists) never holds more than this.
inline constexpr int64_t kMaxMemoryTransfer = 64LL * 1024 * 1024;

// Result codes.
enum HttpResult : int {
  kWebOk = 1,
  kWebBadParameters = 2,
  kWebOutOfMemory = 4,
  kWebAborted = 7,
  kWebSizeMismatch = 8,
  kWebCannotCreateFile = 9,
  kWebHttpStatus = 10,
  kWebInitFailed = 11,
  kWebConnectFailed = 12,
  kWebProxyOptions = 13,
  kWebAuthOptions = 14,
  kWebRequestFailed = 15,
  kWebSendFailed = 16,
  kWebStatusFailed = 17,
  kWebRangeHeader = 18,
  kWebReadFailed = 19,
  kWebResumeRefused = 21,
  kWebResumeLimit = 22,
};

struct THTTP;
// Once per accepted response (again after every successful resume).
using HttpCallStart = std::function<void(THTTP&, const HttpResponseHead&)>;
// After every chunk that brought data; returning 0 cancels the transfer (code 7).
using HttpCallWorking =
    std::function<int(THTTP&, int64_t received, int64_t total, int64_t seconds)>;
// Once, at the very end.
using HttpCallEnd =
    std::function<void(THTTP&, int code, int64_t received, int64_t total, int64_t seconds)>;

// The transfer record. Callers clear it (ClearHTTP) and fill the input fields before each call.
struct THTTP {
  std::string URL;
  std::string Referer;
  int32_t iDestination = 0;       // kHttpToFile or kHttpToMemory
  int32_t BufferSize = 0;         // read chunk; 0 = automatic
  std::string UserAgent;          // "" = "InternetRecovery/1.0"
  int32_t Port = 0;               // 0 = the URL's port (or the scheme's)
  int32_t AccessType = 0;         // 0 = system proxy settings, 3 = ProxyAndPort
  uint32_t RequestFlags = 0;      // 0 = kDefaultRequestFlags
  std::string FullFileName;       // target of kHttpToFile; also the display name
  int64_t AnnouncedFileSize = 0;  // Content-Length of the first response
  std::string ProxyAndPort;
  std::string ProxyUser;
  std::string ProxyPassword;
  int64_t iTotBytesRead = 0;
  int32_t iResumeAttemptsNumber = 0;
  int32_t iResumeMaxAttemptsNumber = 0;  // capped at 9999
  int32_t iStatusCode = 0;               // status of a refused request
  // Why the last request could not be made, sent or read, in the transfer library's words
  // ("Could not resolve host: example.org", "... (Connection refused)").
  std::string ErrorReason;
  std::vector<char> MemoryBuffer;  // kHttpToMemory: the received bytes
  HttpCallStart CallStart;
  HttpCallWorking CallWorking;
  HttpCallEnd CallEnd;
  int32_t iHTTPRetVal = 0;
};

// The one transfer record.
THTTP& TheHTTP();
void ClearHTTP(THTTP& record);

// Sets flgNetThreadRunning when it was 0; false when another transfer holds the record.
bool TryStartNetTransfer();
void EndNetTransfer();

// Runs the transfer described by `record`; returns the result code (also in iHTTPRetVal). A call on
// a record that another transfer is running on returns 2 at once and leaves the record alone.
int HTTPGetFromWeb(THTTP& record);

// The URL split into its parts.
struct UrlParts {
  std::string scheme;  // "ftp", "http" or "https"
  std::string user;
  std::string password;
  std::string host;  // may carry ":port"
  std::string path;  // from the first "/" on
};
// Splits and checks `url`; on failure returns false and the log line's text in `error`.
bool SplitUrl(const std::string& url, UrlParts* parts, std::string* error);

// The message of a result code, as MyCallEnd shows it.
std::string HttpResultText(const THTTP& record, int code);

// The program's standard callbacks.
void MyCallStart(THTTP& record, const HttpResponseHead& head);
int MyCallWorking(THTTP& record, int64_t received, int64_t total, int64_t seconds);
void MyCallEnd(THTTP& record, int code, int64_t received, int64_t total, int64_t seconds);
// The status text MyCallWorking shows (without the leading percent).
std::string WorkingText(const std::string& fullFileName, int64_t received, int64_t total,
                        int64_t seconds);

// Time without any received byte after which a connection counts as broken (60 s; tests
// shorten it).
void SetHttpStallTimeoutMs(int64_t milliseconds);

}  // namespace fw
