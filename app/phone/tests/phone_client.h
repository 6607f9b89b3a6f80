// A phone as the kill test and the benchmark play it: blocking HTTP over one
// keep-alive connection per phone, no Qt, so that many of them can run on
// threads of their own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace tallimo::phone::testing {

struct HttpAnswer {
  int status = -1;  // -1: no answer (connection refused, reset or timed out)
  std::string body;
};

class PhoneClient {
 public:
  explicit PhoneClient(int port, std::string phone) : port_(port), phone_(std::move(phone)) {}
  ~PhoneClient() { disconnect(); }
  PhoneClient(const PhoneClient&) = delete;
  PhoneClient& operator=(const PhoneClient&) = delete;

  const std::string& phone() const { return phone_; }
  void set_port(int port) {
    disconnect();
    port_ = port;
  }

  HttpAnswer request(const std::string& method, const std::string& path, const std::string& body,
                     int timeout_ms = 10000) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (fd_ < 0 && !connect_now()) return {};
      std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
      if (!token_.empty()) text += "Authorization: Bearer " + token_ + "\r\n";
      text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      if (!send_all(text)) {
        disconnect();
        continue;  // a kept connection the server had closed: once more on a new one
      }
      HttpAnswer answer = read_answer(timeout_ms);
      if (answer.status < 0) disconnect();
      return answer;
    }
    return {};
  }

  // Pairs with `code`; true when a token came back.
  bool pair(const std::string& code) {
    token_.clear();
    const HttpAnswer a = request("POST", "/api/pair", "{\"code\":\"" + code + "\",\"phone\":\"" + phone_ + "\"}");
    const size_t at = a.body.find("\"token\":\"");
    if (a.status != 200 || at == std::string::npos) return false;
    token_ = a.body.substr(at + 9, a.body.find('"', at + 9) - at - 9);
    return true;
  }

  HttpAnswer scan(long sequence, const std::string& item, int kind, double qty) {
    char body[512];
    std::snprintf(body, sizeof body, "{\"id\":\"%s:%ld\",\"item\":\"%s\",\"kind\":%d,\"qty\":%g}", phone_.c_str(),
                  sequence, item.c_str(), kind, qty);
    return request("POST", "/api/scan", body);
  }

  void disconnect() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
  }

 private:
  bool connect_now() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      disconnect();
      return false;
    }
    return true;
  }
  bool send_all(const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
      const ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  HttpAnswer read_answer(int timeout_ms) {
    HttpAnswer answer;
    for (;;) {
      const size_t head_end = buffer_.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        size_t length = 0;
        const size_t at = buffer_.find("Content-Length:");
        if (at != std::string::npos && at < head_end) length = std::stoul(buffer_.substr(at + 15));
        if (buffer_.size() >= head_end + 4 + length) {
          answer.status = std::stoi(buffer_.substr(9, 3));
          answer.body = buffer_.substr(head_end + 4, length);
          buffer_.erase(0, head_end + 4 + length);
          return answer;
        }
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) <= 0) return {};
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  int port_;
  std::string phone_;
  std::string token_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace tallimo::phone::testing
