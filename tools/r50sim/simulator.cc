#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace r50sim {
namespace {

constexpr int kLoneQuietMs = 30;
constexpr int kStaleFrameMs = 100;

int code_speed(unsigned char code) {
  switch (code) {
    case '2': return 9600;
    case '3': return 19200;
    case '4': return 38400;
    case '5': return 57600;
    case '6': return 115200;
    default: return 0;
  }
}

std::string garble(const std::string& reply) {
  std::string out = reply;
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    out[i] = static_cast<char>(out[i] ^ 0x5A);
    if (out[i] == '\r') out[i] = '#';
  }
  return out;
}

}  // namespace

int speed_from_termios(unsigned int constant) {
  switch (constant) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
  }
}

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      scanner_(options_.memory_total),
      transceiver_speed_(options_.transceiver_speed) {}

Simulator::~Simulator() {
  try {
    stop();
  } catch (...) {
  }
}

void Simulator::start() {
  if (running_) return;
  if (!options_.file.empty()) {
    struct stat st;
    if (::stat(options_.file.c_str(), &st) == 0) scanner_.load(options_.file);
  }
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error(std::string("r50sim: cannot create a pseudo-terminal: ") + std::strerror(errno));
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0)
    throw std::runtime_error("r50sim: cannot name the pseudo-terminal");
  slave_path_ = name;
  // Holding the slave open keeps the master readable while no client is attached.
  slave_keep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_keep_ < 0) throw std::runtime_error("r50sim: cannot open " + slave_path_);
  struct termios t;
  ::tcgetattr(slave_keep_, &t);
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  ::tcsetattr(slave_keep_, TCSANOW, &t);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("r50sim: cannot create a pipe");
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void Simulator::stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  char b = 0;
  (void)!::write(wake_[1], &b, 1);
  thread_.join();
  running_ = false;
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::close(slave_keep_);
  ::close(master_);
  master_ = slave_keep_ = wake_[0] = wake_[1] = -1;
  save();
}

void Simulator::save() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!options_.file.empty()) scanner_.save(options_.file);
}

int Simulator::port_speed() const {
  struct termios t;
  if (master_ < 0 || ::tcgetattr(master_, &t) != 0) return 0;
  return speed_from_termios(::cfgetospeed(&t));
}

int Simulator::transceiver_speed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transceiver_speed_;
}

void Simulator::with_scanner(const std::function<void(Scanner&)>& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  f(scanner_);
}

void Simulator::update(const std::function<void(Options&)>& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  f(options_);
}

void Simulator::push_fault(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(fault);
}

void Simulator::push_reply(std::string raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back(std::move(raw));
}

void Simulator::inject(std::string bytes, int after_ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outbox_.push_back({Clock::now() + std::chrono::milliseconds(after_ms), std::move(bytes)});
  }
  char b = 0;
  (void)!::write(wake_[1], &b, 1);
}

std::vector<Event> Simulator::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void Simulator::clear_events() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

int Simulator::count(Event::Kind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(events_.begin(), events_.end(), [&](const Event& e) { return e.kind == kind; }));
}

void Simulator::log(Event::Kind kind, int speed, std::string bytes) {
  events_.push_back({kind, speed, std::move(bytes), Clock::now()});
}

void Simulator::run() {
  char buffer[4096];
  for (;;) {
    long long timeout_us = -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      auto now = Clock::now();
      auto next = Clock::time_point::max();
      for (const auto& o : outbox_) next = std::min(next, o.due);
      if (!pending_.empty()) next = std::min(next, last_arrival_ + std::chrono::milliseconds(kStaleFrameMs));
      if (next != Clock::time_point::max()) {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(next - now).count();
        timeout_us = us <= 0 ? 0 : us;
      }
    }
    struct pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    struct timespec wait = {static_cast<time_t>(timeout_us / 1000000), static_cast<long>(timeout_us % 1000000) * 1000};
    ::ppoll(fds, 2, timeout_us < 0 ? nullptr : &wait, nullptr);
    if (fds[1].revents & POLLIN) {
      while (::read(wake_[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got > 0) {
        std::string bytes(buffer, static_cast<size_t>(got));
        bool lone = false;
        if (got == 1) {
          // A single byte: a transceiver command when nothing follows it soon.
          struct pollfd more = {master_, POLLIN, 0};
          if (::poll(&more, 1, kLoneQuietMs) > 0) {
            ssize_t extra = ::read(master_, buffer, sizeof buffer);
            if (extra > 0) bytes.append(buffer, static_cast<size_t>(extra));
          }
          lone = bytes.size() == 1;
        }
        on_bytes(bytes, lone);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!pending_.empty() && Clock::now() - last_arrival_ >= std::chrono::milliseconds(kStaleFrameMs)) {
        log(Event::kBadFrame, port_speed(), pending_);
        pending_.clear();
      }
    }
    send_due();
  }
}

void Simulator::on_bytes(const std::string& bytes, bool lone) {
  int speed = port_speed();
  std::lock_guard<std::mutex> lock(mutex_);
  if (speed != transceiver_speed_) {
    log(Event::kNoise, speed, bytes);
    pending_.clear();
    return;
  }
  if (lone && pending_.empty()) {
    unsigned char byte = static_cast<unsigned char>(bytes[0]);
    if (command_state_ != 0 || byte == 0x0F || byte == 0x07) {
      on_transceiver_byte(byte, speed);
      return;
    }
  }
  pending_ += bytes;
  last_arrival_ = Clock::now();
  process_frames(speed);
}

void Simulator::on_transceiver_byte(unsigned char byte, int speed) {
  if (command_state_ == 1) {
    pending_speed_ = code_speed(byte);
    command_state_ = pending_speed_ != 0 ? 2 : 0;
    return;
  }
  if (command_state_ == 2) {
    command_state_ = 0;
    if (byte == 'Q') {
      transceiver_speed_ = pending_speed_;
      log(Event::kSpeedChange, pending_speed_, "");
    }
    return;
  }
  if (byte == 0x07) {
    command_state_ = 1;
    return;
  }
  // A probe.
  log(Event::kProbe, speed, std::string(1, static_cast<char>(byte)));
  if (options_.ignore_probes < 0 || probes_ignored_ < options_.ignore_probes) {
    ++probes_ignored_;
    return;
  }
  log(Event::kProbeAnswered, speed, "");
  outbox_.push_back({Clock::now(), std::string(1, '\x0F')});
}

void Simulator::process_frames(int speed) {
  while (!pending_.empty()) {
    unsigned char first = static_cast<unsigned char>(pending_[0]);
    if (first == 0xFF) {
      size_t run = 0;
      while (run < pending_.size() && static_cast<unsigned char>(pending_[run]) == 0xFF && run < 4) ++run;
      if (run == 4) {
        log(Event::kResync, speed, pending_.substr(0, 4));
        pending_.erase(0, 4);
        if (!options_.mute) reply("True\r", 4, speed);
        continue;
      }
      if (run == pending_.size()) return;  // more may follow
      log(Event::kBadFrame, speed, pending_.substr(0, run));
      pending_.erase(0, run);
      continue;
    }
    if (first < 3) {
      log(Event::kBadFrame, speed, pending_.substr(0, 1));
      pending_.erase(0, 1);
      continue;
    }
    if (pending_.size() < 2) return;
    size_t need = first + (pending_[1] == '2' ? 1 : 0);
    if (pending_.size() < need) return;
    std::string frame = pending_.substr(0, need);
    pending_.erase(0, need);
    unsigned sum = 0;
    for (unsigned char c : frame) sum += c;
    if (sum % 256 != 0xA5) {
      log(Event::kBadFrame, speed, frame);
      continue;
    }
    log(Event::kFrame, speed, frame);
    std::string answer;
    if (!scripted_.empty()) {
      answer = scripted_.front();
      scripted_.pop_front();
    } else {
      bool was_sync = scanner_.sync_mode();
      answer = scanner_.handle(frame.substr(1, frame.size() - 2));
      if (was_sync && !scanner_.sync_mode() && !options_.file.empty()) scanner_.save(options_.file);
    }
    if (!options_.mute && !answer.empty()) reply(answer, frame.size(), speed);
  }
}

void Simulator::reply(const std::string& text, size_t frame_bytes, int speed) {
  ++replies_;
  auto due = Clock::now() + std::chrono::milliseconds(options_.delay_ms);
  int split_ms = options_.split_ms;
  std::string out = text;
  if (options_.drop_every > 0 && replies_ % options_.drop_every == 0) return;
  if (options_.garble_every > 0 && replies_ % options_.garble_every == 0) out = garble(out);
  if (!faults_.empty()) {
    Fault fault = faults_.front();
    faults_.pop_front();
    switch (fault.kind) {
      case FaultKind::kDrop: return;
      case FaultKind::kGarble: out = garble(out); break;
      case FaultKind::kDelay: due += std::chrono::milliseconds(fault.ms); break;
      case FaultKind::kSplit: split_ms = fault.ms; break;
    }
  }
  if (options_.pace_line && speed > 0) {
    auto bits = static_cast<long long>(frame_bytes + out.size()) * 10;
    due += std::chrono::microseconds(bits * 1000000 / speed);
  }
  log(Event::kReply, speed, out);
  if (split_ms > 0 && out.size() > 1) {
    size_t half = out.size() / 2;
    outbox_.push_back({due, out.substr(0, half)});
    outbox_.push_back({due + std::chrono::milliseconds(split_ms), out.substr(half)});
  } else {
    outbox_.push_back({due, out});
  }
}

void Simulator::send_due() {
  std::vector<std::string> ready;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = Clock::now();
    // Keep the order in which replies were queued among those that are due.
    std::stable_sort(outbox_.begin(), outbox_.end(), [](const Outgoing& a, const Outgoing& b) { return a.due < b.due; });
    auto it = outbox_.begin();
    while (it != outbox_.end() && it->due <= now) {
      ready.push_back(std::move(it->bytes));
      ++it;
    }
    outbox_.erase(outbox_.begin(), it);
  }
  for (const auto& bytes : ready) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (put > 0) {
        done += static_cast<size_t>(put);
        written_ += static_cast<size_t>(put);
      } else if (put < 0 && errno == EAGAIN) {
        struct pollfd p = {master_, POLLOUT, 0};
        if (::poll(&p, 1, 100) <= 0) break;  // nobody reads: the rest is lost
      } else {
        break;
      }
    }
  }
}

}  // namespace r50sim
