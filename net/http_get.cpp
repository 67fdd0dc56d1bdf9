#include "net/http_get.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/text.h"
#include "app/ui.h"
#include "net/content_range.h"

std::atomic<int> flgNetThreadRunning{0};

namespace fw {
namespace {

std::atomic<int64_t> gStallTimeoutMs{60000};

THTTP gHTTP;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Percent(int64_t received, int64_t total) {
  if (total <= 0) return 0;
  return static_cast<int>(received * 100 / total);
}

// The target of a file download: a link to an existing file stands for that file (the link
// stays, as it would when writing through it).
std::string ResolvedTarget(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)) &&
      std::filesystem::exists(path, ec)) {
    const auto real = std::filesystem::canonical(path, ec);
    if (!ec) return real.string();
  }
  return path;
}

// Creates a file of its own beside `target` for the bytes to arrive in ("name.part", or
// "name.part1" ... when that exists): never an existing file, so nothing of anyone else's is
// emptied, and on the same file system, so the finished file can be renamed into place.
std::FILE* CreatePartFile(const std::string& target, std::string* partPath) {
  for (int n = 0; n < 100; ++n) {
    const std::string candidate = target + ".part" + (n ? std::to_string(n) : std::string());
    if (std::FILE* f = std::fopen(candidate.c_str(), "wbx")) {
      *partPath = candidate;
      return f;
    }
    if (errno != EEXIST) break;
  }
  return nullptr;
}

// The records that a transfer runs on right now: a second call on one of them is refused before it
// touches the record.
std::mutex gBusyMutex;
std::set<const THTTP*> gBusy;

class RecordClaim {
 public:
  explicit RecordClaim(const THTTP* record) : record_(record) {
    std::lock_guard<std::mutex> lock(gBusyMutex);
    owned_ = gBusy.insert(record).second;
  }
  ~RecordClaim() {
    if (!owned_) return;
    std::lock_guard<std::mutex> lock(gBusyMutex);
    gBusy.erase(record_);
  }
  bool owned() const { return owned_; }

 private:
  const THTTP* record_;
  bool owned_ = false;
};

// The open target file of a file transfer.
struct TargetFile {
  std::FILE* f = nullptr;
  ~TargetFile() { Close(); }
  void Close() {
    if (f) std::fclose(f);
    f = nullptr;
  }
};

}  // namespace

THTTP& TheHTTP() { return gHTTP; }
void ClearHTTP(THTTP& record) { record = THTTP{}; }

bool TryStartNetTransfer() {
  int expected = 0;
  return flgNetThreadRunning.compare_exchange_strong(expected, 1);
}
void EndNetTransfer() { flgNetThreadRunning = 0; }

void SetHttpStallTimeoutMs(int64_t milliseconds) { gStallTimeoutMs = milliseconds; }

bool SplitUrl(const std::string& url, UrlParts* parts, std::string* error) {
  *parts = UrlParts{};
  const size_t sep = url.find("://");
  const std::string scheme = sep == std::string::npos ? "" : Lower(url.substr(0, sep));
  if (scheme != "ftp" && scheme != "http" && scheme != "https") {
    *error = "Protocol Malformed";
    return false;
  }
  parts->scheme = scheme;
  std::string rest = url.substr(sep + 3);
  const size_t slash = rest.find('/');
  // Credentials sit in front of an "@" that comes before the path.
  const size_t at = rest.substr(0, slash).rfind('@');
  if (at != std::string::npos) {
    const std::string cred = rest.substr(0, at);
    const size_t colon = cred.find(':');
    parts->user = cred.substr(0, colon);
    if (colon != std::string::npos) parts->password = cred.substr(colon + 1);
    rest = rest.substr(at + 1);
  }
  const size_t pathStart = rest.find('/');
  parts->host = rest.substr(0, pathStart);
  if (parts->host.empty()) {
    *error = "Domain Malformed: " + url;
    return false;
  }
  if (pathStart == std::string::npos) {
    *error = "URL Path Malformed";
    return false;
  }
  parts->path = rest.substr(pathStart);
  return true;
}

std::string HttpResultText(const THTTP& r, int code) {
  // A connection that failed says why: refused, unknown host, a certificate, ...
  const bool hasReason = code == kWebRequestFailed || code == kWebSendFailed ||
                         code == kWebReadFailed || code == kWebResumeLimit;
  if (hasReason && !r.ErrorReason.empty()) {
    THTTP bare;
    bare.FullFileName = r.FullFileName;
    return HttpResultText(bare, code) + ": " + r.ErrorReason;
  }
  switch (code) {
    case 1:
      return "#WEB_OK";
    case 2:
      return "Check download procedure parameters";
    case 4:
      return "Out of memory";
    case 7:
      return "Download aborted";
    case 8:
      return "Error writing to the file " + r.FullFileName;
    case 9:
      return "Cannot create the file " + r.FullFileName;
    case 10:
      return "HTTP status code = " + std::to_string(r.iStatusCode);
    case 11:
      return "Error initializing Internet API";
    case 12:
      return "Error opening the session to the given site";
    case 13:
      return "Error setting the options for the proxy server";
    case 14:
      return "Error setting the options for basic authentication";
    case 15:
      return "Error creating the HTTP request handle";
    case 16:
      return "Error sending the HTTP request to the server";
    case 17:
      return "Error retrieving the HTTP status code";
    case 18:
      return "Error add the HTTP Request Hedears";
    case 19:
      return "Error reading data from the opened session";
    case 21:
      return "Error HTTP Resume Request";
    case 22:
      return "The maximum number of attempts to resume download reached";
    default:
      return "Unexpected error = " + std::to_string(code);
  }
}

int HTTPGetFromWeb(THTTP& r) {
  const RecordClaim claim(&r);
  if (!claim.owned()) {
    // Another transfer owns every field of the record: leave them all to it.
    FW_LOG("HTTPGetFromWeb: the transfer record is in use by another transfer");
    return kWebBadParameters;
  }
  int64_t received = 0;
  int64_t total = 0;
  r.iTotBytesRead = 0;
  const int64_t startMs = TheClock().NowMs();
  auto seconds = [&] { return (TheClock().NowMs() - startMs) / 1000; };

  int code = 0;
  UrlParts url;
  std::string error;
  std::unique_ptr<HttpRequest> request;
  TargetFile file;
  bool fileCreated = false;
  std::vector<char> chunk;
  const bool toFile = r.iDestination == kHttpToFile;

  // Preparation: the URL, the destination, the proxy, the defaults.
  if (!SplitUrl(r.URL, &url, &error)) {
    FW_LOG(error);
    code = kWebBadParameters;
  } else if (r.iDestination == kHttpToFile && r.FullFileName.empty()) {
    FW_LOG("No Filename Specified");
    code = kWebBadParameters;
  } else if (r.iDestination != kHttpToFile && r.iDestination != kHttpToMemory) {
    FW_LOG("iDestination Malformed");
    code = kWebBadParameters;
  } else if (r.AccessType == 3 && r.ProxyAndPort.empty()) {
    FW_LOG("ProxyAndPort Malformed");
    code = kWebBadParameters;
  }
  // The download replaces a regular file at most: a device node, FIFO or folder of that name is
  // refused before anything is sent.
  std::string target;
  std::string partPath;
  if (code == 0 && toFile) {
    target = ResolvedTarget(r.FullFileName);
    std::error_code ec;
    const auto st = std::filesystem::status(target, ec);
    if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st)) {
      FW_LOG("Not a regular file: " + r.FullFileName);
      code = kWebCannotCreateFile;
    }
  }
  if (r.iDestination == kHttpToMemory) r.MemoryBuffer.clear();
  if (r.BufferSize < 0) r.BufferSize = 0;
  if (r.UserAgent.empty()) r.UserAgent = kDefaultUserAgent;
  if (r.RequestFlags == 0) r.RequestFlags = kDefaultRequestFlags;
  if (r.iResumeMaxAttemptsNumber > 9999) r.iResumeMaxAttemptsNumber = 9999;

  bool firstResponse = true;
  bool authRetried = false;
  while (code == 0 || code == kWebSendFailed || code == kWebReadFailed ||
         code == kWebResumeRefused) {
    bool resume = false;
    code = 0;
    if (!TheHttpTransport().Available()) {
      code = kWebInitFailed;
      break;
    }
    HttpRequestOptions options;
    options.url = url.scheme + "://" + url.host + url.path;
    options.port = r.Port;
    options.referer = r.Referer;
    options.userAgent = r.UserAgent;
    options.pragmaNoCache = (r.RequestFlags & kRequestFlagPragmaNoCache) != 0;
    if (r.iResumeAttemptsNumber > 0) {
      // With an unknown total the range stays open-ended.
      options.range = "bytes=" + std::to_string(received) + "-" +
                      (total > 0 ? std::to_string(total - 1) : std::string());
    }
    if (r.AccessType == 3) {
      options.explicitProxy = true;
      options.proxy = r.ProxyAndPort;
      options.proxyUser = r.ProxyUser;
      options.proxyPassword = r.ProxyPassword;
    }
    options.stallTimeoutMs = gStallTimeoutMs.load();
    options.cancelled = [] { return CancelMainThread.load() != 0; };

    HttpResponseHead head;
    for (;;) {  // send, and once per transfer again with the URL's credentials after a 401
      // FTP logs in before anything is fetched, so there is no 401 to wait for: its credentials
      // go with the first request.
      if (authRetried || url.scheme == "ftp") {
        options.user = url.user;
        options.password = url.password;
      }
      request.reset();
      request = TheHttpTransport().Open(options, &error);
      if (!request) {
        FW_LOG("Create HTTP Request " + error);
        r.ErrorReason = error;
        code = kWebRequestFailed;
        break;
      }
      const HttpWait sent = request->Send(&head, &error);
      if (sent == HttpWait::Cancelled) {
        FW_LOG("CancelMainThread=#True");
        code = kWebAborted;
        break;
      }
      if (sent == HttpWait::Failed) {
        FW_LOG("Send HTTP Request " + error);
        r.ErrorReason = error;
        FW_LOG("---->> HTTPGetFromWeb: Check Internet Connection ! <<----");
        code = kWebSendFailed;
        resume = r.iResumeAttemptsNumber > 0;
        break;
      }
      if (head.status <= 0) {
        code = kWebStatusFailed;
        break;
      }
      FW_LOG("HTTP status " + std::to_string(head.status) + " " + head.statusText);
      if (head.status == 401 && !authRetried) {
        authRetried = true;
        continue;
      }
      break;
    }
    if (code == 0 && head.status != 200 && head.status != 206) {
      r.iStatusCode = head.status;
      code = kWebHttpStatus;
    } else if (code == 0 && head.status == 200 && r.iResumeAttemptsNumber > 0) {
      r.iStatusCode = head.status;
      code = kWebResumeRefused;
      resume = true;
    } else if (code == 0 && head.status == 206 && r.iResumeAttemptsNumber > 0 &&
               url.scheme != "ftp" && !RangeContinuesAt(head.contentRange, received, total)) {
      // Only a part that provably starts where the file ends, of the same whole, is appended;
      // anything else would corrupt the file: refuse it like a 200. (FTP has no such header: its
      // restart either starts at the offset asked for or fails the request.)
      FW_LOG("Content-Range \"" + head.contentRange + "\" does not continue at " +
             std::to_string(received) + " of " + std::to_string(total));
      r.iStatusCode = head.status;
      code = kWebResumeRefused;
      resume = true;
    }

    if (code == 0 && firstResponse) {
      firstResponse = false;
      total = head.contentLength > 0 ? head.contentLength : 0;
      r.AnnouncedFileSize = total;
      size_t size = 65536;
      if (r.BufferSize != 0)
        size = static_cast<size_t>(r.BufferSize);
      else if (total > 0 && total <= 8388608)
        size = static_cast<size_t>(total);
      try {
        chunk.resize(size);
      } catch (const std::bad_alloc&) {
        code = kWebOutOfMemory;
      }
      if (code == 0 && toFile) {
        // The bytes go into a file beside the target; the target itself is replaced only by the
        // complete download, so a failure leaves an earlier file exactly as it was.
        file.f = CreatePartFile(target, &partPath);
        if (!file.f) {
          const int err = errno;
          FW_LOG("Cannot create " + target + ".part: " + std::strerror(err));
          code = kWebCannotCreateFile;
        } else {
          fileCreated = true;
          std::setvbuf(file.f, nullptr, _IONBF, 0);
        }
      }
    }
    if (code == 0 && r.CallStart) r.CallStart(r, head);

    // Reading loop.
    while (code == 0) {
      size_t got = 0;
      const HttpWait w = request->Read(chunk.data(), chunk.size(), &got, &error);
      if (w == HttpWait::Cancelled) {
        FW_LOG("CancelMainThread=#True");
        code = kWebAborted;
        break;
      }
      if (w == HttpWait::Failed) {
        FW_LOG("Read " + error);
        r.ErrorReason = error;
        code = kWebReadFailed;
        resume = toFile;
        break;
      }
      if (toFile && got > 0) {
        const size_t written = std::fwrite(chunk.data(), 1, got, file.f);
        std::error_code ec;
        const auto length = std::filesystem::file_size(partPath, ec);
        if (written != got || ec || static_cast<int64_t>(length) != received + int64_t(got)) {
          code = kWebSizeMismatch;
          break;
        }
      } else if (got > 0) {
        if (received + static_cast<int64_t>(got) > kMaxMemoryTransfer) {
          FW_LOG("Memory transfer larger than " + std::to_string(kMaxMemoryTransfer) + " bytes");
          code = kWebOutOfMemory;
          break;
        }
        try {
          r.MemoryBuffer.insert(r.MemoryBuffer.end(), chunk.data(), chunk.data() + got);
        } catch (const std::bad_alloc&) {
          code = kWebOutOfMemory;
          break;
        }
      }
      received += static_cast<int64_t>(got);
      if (got > 0 && r.CallWorking && r.CallWorking(r, received, total, seconds()) == 0) {
        code = kWebAborted;
        break;
      }
      if (got == 0) {  // the body is complete
        if (toFile) {
          std::error_code ec;
          const auto length = std::filesystem::file_size(partPath, ec);
          if (ec || static_cast<int64_t>(length) != received) {
            code = kWebSizeMismatch;
            break;
          }
          file.Close();
        }
        r.iTotBytesRead = received;
        if (total > 0 && total != received) {
          FW_LOG("Original FileSize = " + std::to_string(total) +
                 " <> tHTTP\\iTotBytesRead = " + std::to_string(received));
          code = kWebSizeMismatch;
        } else {
          code = kWebOk;
        }
        if (code == kWebOk && toFile) {
          std::error_code moved;
          std::filesystem::rename(partPath, target, moved);
          if (moved) {
            FW_LOG("Cannot rename " + partPath + " to " + target + ": " + moved.message());
            code = kWebCannotCreateFile;
          } else {
            fileCreated = false;  // it is the user's file now
          }
        }
      }
    }

    if (!resume) break;
    // Resume step.
    ++r.iResumeAttemptsNumber;
    if (r.iResumeAttemptsNumber > r.iResumeMaxAttemptsNumber) {
      FW_LOG("iResumeMaxAttemptsNumber=" + std::to_string(r.iResumeMaxAttemptsNumber) + " reached");
      code = kWebResumeLimit;
      break;
    }
    if (CancelMainThread != 0) {
      FW_LOG("CancelMainThread=#True");
      ShowStatus("File " + FileNamePart(r.FullFileName) + " Download aborted", 0);
      break;
    }
    request.reset();
    const int pct = Percent(received, total);
    ShowStatus(std::to_string(pct) + "% ERROR, Attempt to resume downloading, #" +
                   std::to_string(r.iResumeAttemptsNumber) + " ...",
               pct);
    Pause(1000);
  }

  // End.
  request.reset();
  if (r.iTotBytesRead == 0) r.iTotBytesRead = received;
  r.iHTTPRetVal = code;
  if (r.CallEnd) r.CallEnd(r, code, received, total, seconds());
  // A failed file download leaves no partial file, also when the file was already closed
  // (a size mismatch found at completion). Only the file this download made is removed.
  if (toFile && code != kWebOk && fileCreated) {
    file.Close();
    std::error_code ec;
    std::filesystem::remove(partPath, ec);
  }
  return code;
}

std::string WorkingText(const std::string& fullFileName, int64_t received, int64_t total,
                        int64_t seconds) {
  std::string text = FileNamePart(fullFileName);
  text.append(" (").append(FormatSizeText(received, 1)).append("/");
  text.append(total > 0 ? FormatSizeText(total, 1) : std::string("Unknown")).append(")");
  if (seconds > 0) {
    const int64_t rate = received / seconds;
    text.append(" ").append(FormatSizeText(rate, 1)).append("/s");
    // "Remain:" only with something to tell: a rate and a known total.
    if (rate > 0 && total > 0)
      text.append(" Remain: ")
          .append(FormatShownDurationText(std::max<int64_t>(total - received, 0) / rate));
  }
  return text;
}

void MyCallStart(THTTP&, const HttpResponseHead& head) {
  ShowStatus("Connecting ... Wait Please", 0);
  FW_LOG("HTTP_QUERY_CONTENT_TYPE = " + head.contentType);
  FW_LOG("HTTP_QUERY_CONTENT_LENGTH = " +
         (head.contentLength >= 0 ? std::to_string(head.contentLength) : std::string()));
  FW_LOG("#HTTP_QUERY_CONTENT_RANGE = " + head.contentRange);
  FW_LOG("HTTP_QUERY_STATUS_CODE = " + std::to_string(head.status));
}

int MyCallWorking(THTTP& r, int64_t received, int64_t total, int64_t seconds) {
  const std::string text = WorkingText(r.FullFileName, received, total, seconds);
  FW_LOG(text);
  const int pct = Percent(received, total);
  ShowStatus(std::to_string(pct) + "% " + text, pct);
  if (CancelMainThread != 0) {
    FW_LOG("MyCallWorking: CancelMainThread=#True");
    ShowStatus("File " + FileNamePart(r.FullFileName) + " Download aborted", 0);
    return 0;
  }
  return 1;
}

void MyCallEnd(THTTP& r, int code, int64_t received, int64_t total, int64_t seconds) {
  Pause(3000);
  ShowStatus("", 0);
  FW_LOG("-> MyCallEnd: iRetVal = " + std::to_string(code) +
         ", iHTTPRetVal=" + std::to_string(r.iHTTPRetVal) +
         ", iBytesReceived = " + std::to_string(received) + ", iSize = " + std::to_string(total) +
         ", iElapsedTime = " + std::to_string(seconds) + " sec");
  if (code != kWebOk) ShowStatusFor(HttpResultText(r, code), 2000);
}

}  // namespace fw
