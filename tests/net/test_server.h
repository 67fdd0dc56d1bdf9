// A scripted HTTP/1.1 server on 127.0.0.1 for the download tests: every connection carries one
// request and one response shaped by a Plan (length or none, ranges honoured or ignored, a
// dropped connection after N bytes, a lying Content-Length, slow drip, endless stream, stall),
// and a forwarding proxy for absolute-form requests. Bodies are a fixed byte pattern.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fwtest {

inline char PatternByte(int64_t i) { return static_cast<char>((i * 131 + (i >> 12)) & 0xff); }

inline void FillPattern(char* out, int64_t offset, size_t n) {
  for (size_t k = 0; k < n; ++k) out[k] = PatternByte(offset + static_cast<int64_t>(k));
}

struct Request {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

struct Plan {
  int status = 200;
  std::string extraHeaders;  // "Name: value\r\n" lines
  int64_t size = 0;          // size of the whole resource
  bool sendLength = true;
  bool honourRange = true;
  int64_t dropAfter = -1;      // close the connection after this many body bytes
  int64_t announce = -1;       // Content-Length to send instead of the true one
  int dripMs = 0;              // pause after every 1 KiB
  bool forever = false;        // endless body, no length
  bool stall = false;          // send the head, then nothing
  int64_t stallAfter = -1;     // send this many body bytes, then nothing (the connection stays)
  bool rangeFromZero = false;  // answer a range request with 206: the bytes asked for, from byte 0
  bool omitContentRange = false;  // answer a range request with 206 but no Content-Range
  int64_t rangeTotal = -1;        // the total Content-Range names instead of the true size
};

class TestServer {
 public:
  using Handler = std::function<void(int fd, const Request& req, int index)>;

  explicit TestServer(Handler handler) : handler_(std::move(handler)) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 64);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  // A server that answers every request with the plan the script gives.
  static Handler Scripted(std::function<Plan(const Request&, int)> script) {
    return [script](int fd, const Request& req, int index) {
      ServePlan(fd, req, script(req, index), nullptr);
    };
  }

  ~TestServer() { Stop(); }

  void Stop() {
    if (stop_.exchange(true)) return;
    shutdown(listen_, SHUT_RDWR);
    close(listen_);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
  }

  int port() const { return port_; }
  std::string Url(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  const std::atomic<bool>& stopping() const { return stop_; }

  static bool SendAll(int fd, const char* data, size_t n) {
    while (n > 0) {
      const ssize_t w = send(fd, data, n, MSG_NOSIGNAL);
      if (w <= 0) return false;
      data += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  // Answers `req` on `fd` as `plan` says; `stop` (may be null) ends endless or stalled answers.
  static void ServePlan(int fd, const Request& req, const Plan& plan,
                        const std::atomic<bool>* stop) {
    int64_t first = 0;
    int64_t last = plan.size - 1;
    int status = plan.status;
    std::string head;
    const std::string range = req.Header("range");
    if (status == 200 && plan.honourRange && range.rfind("bytes=", 0) == 0 && !plan.forever) {
      first = std::strtoll(range.c_str() + 6, nullptr, 10);
      const size_t dash = range.find('-');
      if (dash + 1 < range.size()) last = std::strtoll(range.c_str() + dash + 1, nullptr, 10);
      last = std::min(last, plan.size - 1);
      if (plan.rangeFromZero) {
        last -= first;
        first = 0;
      }
      status = 206;
      if (!plan.omitContentRange)
        head += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                std::to_string(plan.rangeTotal >= 0 ? plan.rangeTotal : plan.size) + "\r\n";
    }
    const int64_t length = plan.forever ? -1 : last - first + 1;
    std::string out = "HTTP/1.1 " + std::to_string(status) + (status < 300 ? " OK" : " Nope") +
                      "\r\nConnection: close\r\nContent-Type: application/octet-stream\r\n" + head +
                      plan.extraHeaders;
    if (plan.sendLength && !plan.forever)
      out +=
          "Content-Length: " + std::to_string(plan.announce >= 0 ? plan.announce : length) + "\r\n";
    out += "\r\n";
    if (!SendAll(fd, out.data(), out.size())) return;
    if (plan.stall) {
      while (!(stop && *stop) && !PeerClosed(fd)) {
      }
      return;
    }
    std::vector<char> buf(plan.dripMs > 0 ? 1024 : 256 * 1024);
    int64_t pos = first;
    int64_t sent = 0;
    while (plan.forever || pos <= last) {
      if (stop && *stop) return;
      size_t n = buf.size();
      if (!plan.forever) n = static_cast<size_t>(std::min<int64_t>(n, last - pos + 1));
      if (plan.dropAfter >= 0) {
        if (sent >= plan.dropAfter) return;
        n = static_cast<size_t>(std::min<int64_t>(n, plan.dropAfter - sent));
      }
      if (plan.stallAfter >= 0) {
        if (sent >= plan.stallAfter) {
          while (!(stop && *stop) && !PeerClosed(fd)) {
          }
          return;
        }
        n = static_cast<size_t>(std::min<int64_t>(n, plan.stallAfter - sent));
      }
      FillPattern(buf.data(), pos, n);
      if (!SendAll(fd, buf.data(), n)) return;
      pos += static_cast<int64_t>(n);
      sent += static_cast<int64_t>(n);
      if (plan.dripMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(plan.dripMs));
    }
  }

  // Waits 50 ms for the peer; true when it closed the connection.
  static bool PeerClosed(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) return false;
    char c;
    return recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
  }

  static bool ReadRequest(int fd, Request* req) {
    std::string data;
    char buf[4096];
    while (data.find("\r\n\r\n") == std::string::npos) {
      const ssize_t r = recv(fd, buf, sizeof buf, 0);
      if (r <= 0) return false;
      // Not HTTP (a TLS handshake, say): hang up at once.
      if (data.empty() && !std::isupper(static_cast<unsigned char>(buf[0]))) return false;
      data.append(buf, static_cast<size_t>(r));
    }
    size_t pos = data.find("\r\n");
    const std::string line = data.substr(0, pos);
    const size_t sp1 = line.find(' ');
    const size_t sp2 = line.find(' ', sp1 + 1);
    req->method = line.substr(0, sp1);
    req->target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    while (true) {
      const size_t next = data.find("\r\n", pos + 2);
      if (next == std::string::npos || next == pos + 2) break;
      const std::string h = data.substr(pos + 2, next - pos - 2);
      const size_t colon = h.find(':');
      std::string name = h.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = colon == std::string::npos ? "" : h.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      req->headers[name] = value;
      pos = next;
    }
    return true;
  }

 private:
  void AcceptLoop() {
    for (;;) {
      const int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) {
        close(fd);
        return;
      }
      workers_.emplace_back([this, fd] {
        Request req;
        if (ReadRequest(fd, &req)) {
          int index;
          {
            std::lock_guard<std::mutex> l(mutex_);
            index = static_cast<int>(requests_.size());
            requests_.push_back(req);
          }
          handler_(fd, req, index);
        }
        shutdown(fd, SHUT_RDWR);
        close(fd);
      });
    }
  }

  Handler handler_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<Request> requests_;
};

// A forwarding proxy: takes "GET http://host:port/path", asks the origin for "/path" and pipes
// the answer back.
inline TestServer::Handler ForwardingProxy() {
  return [](int fd, const Request& req, int) {
    const std::string prefix = "http://";
    if (req.target.rfind(prefix, 0) != 0) {
      const char* bad = "HTTP/1.1 400 Bad\r\nContent-Length: 0\r\n\r\n";
      TestServer::SendAll(fd, bad, std::strlen(bad));
      return;
    }
    const std::string rest = req.target.substr(prefix.size());
    const std::string hostPort = rest.substr(0, rest.find('/'));
    const std::string path = rest.substr(hostPort.size());
    const int port = std::atoi(hostPort.substr(hostPort.find(':') + 1).c_str());
    const int up = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(up);
      return;
    }
    std::string out = req.method + " " + path + " HTTP/1.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : req.headers)
      if (name != "connection" && name != "proxy-connection") out += name + ": " + value + "\r\n";
    out += "Via: test-proxy\r\n\r\n";
    TestServer::SendAll(up, out.data(), out.size());
    char buf[65536];
    for (;;) {
      const ssize_t r = recv(up, buf, sizeof buf, 0);
      if (r <= 0 || !TestServer::SendAll(fd, buf, static_cast<size_t>(r))) break;
    }
    close(up);
  };
}

}  // namespace fwtest
