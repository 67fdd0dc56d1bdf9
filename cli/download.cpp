// flashwright-cli download URL [--output FILE]: one file transfer through the download engine
// with the standard callbacks, progress on the terminal. Ctrl+C (or SIGTERM) cancels the transfer,
// so the partial file is removed; a second Ctrl+C ends the program at once.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/settings.h"
#include "app/ui.h"
#include "cli/cli.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "net/http_get.h"

namespace fw::cli {
namespace {

// The file name part of the URL's path, or "download" when the path ends in "/".
std::string DefaultOutput(const std::string& url) {
  UrlParts parts;
  std::string error;
  if (!SplitUrl(url, &parts, &error)) return "download";
  std::string path = parts.path.substr(0, parts.path.find_first_of("?#"));
  const std::string name = path.substr(path.find_last_of('/') + 1);
  return name.empty() ? "download" : name;
}

int DownloadCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  std::string url;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--output") {
      if (i + 1 >= args.size()) return Fail(kExitUsage, "--output needs a file name");
      output = args[++i];
    } else if (url.empty() && args[i].rfind("--", 0) != 0) {
      url = args[i];
    } else {
      return Fail(kExitUsage, "unexpected argument " + args[i] + " (see --help)");
    }
  }
  if (url.empty()) return Fail(kExitUsage, "download needs a URL");
  if (output.empty()) output = DefaultOutput(url);

  if (!TryStartNetTransfer()) return Fail(kExitFailure, "another download is running");
  THTTP& r = TheHTTP();
  ClearHTTP(r);
  r.URL = url;
  r.iDestination = kHttpToFile;
  r.FullFileName = output;
  r.BufferSize = 1024 * 1024;
  r.iResumeMaxAttemptsNumber = static_cast<int32_t>(Settings().ResumeMaxAttemptsNumber);
  r.CallStart = MyCallStart;
  r.CallWorking = [](THTTP& rec, int64_t received, int64_t total, int64_t seconds) {
    if (!TheUi().HasMainWindow()) {  // no console status line installed: draw our own
      const int64_t pct = total > 0 ? received * 100 / total : 0;
      std::fprintf(stderr, "\r%lld%% %s\x1b[K", static_cast<long long>(pct),
                   WorkingText(rec.FullFileName, received, total, seconds).c_str());
    }
    return MyCallWorking(rec, received, total, seconds);
  };
  r.CallEnd = MyCallEnd;
  int code;
  {
    const InterruptCancels interrupts;
    code = HTTPGetFromWeb(r);
  }
  CancelMainThread = 0;
  if (!TheUi().HasMainWindow()) std::fprintf(stderr, "\n");
  const std::string text = HttpResultText(r, code);
  const int64_t bytes = r.iTotBytesRead;
  EndNetTransfer();
  if (code != kWebOk) return Fail(kExitFailure, text);
  std::cout << output << ": " << bytes << " bytes\n";
  return kExitOk;
}

}  // namespace

FW_CLI_HELP("download", "URL [--output FILE]", "fetch a file over HTTP, HTTPS or FTP",
            "Downloads URL, resuming a broken connection up to ResumeMaxAttemptsNumber times. A "
            "failed download leaves no partial file, and the message names the reason.\n\n"
            "URL\thttp://, https:// (certificates are checked) or ftp://\n"
            "--output FILE\twhere to save it (default: the last part of the URL's path)");
FW_CLI_COMMAND("download", "download URL [--output FILE]  fetch a file over HTTP/HTTPS/FTP",
               DownloadCommand);

}  // namespace fw::cli
