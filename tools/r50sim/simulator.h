// The R50 simulator: the infrared cradle's transceiver and the scanner behind it,
// served on a pseudo-terminal by a thread of its own.
//
// The program under test opens the pseudo-terminal's slave (slave_path()) as its
// serial port. The simulator reads what arrives on the master side:
//
// Line speed. A pseudo-terminal moves bytes at memory speed whatever its settings,
// so the simulator enforces speed itself: at each arrival it reads the speed the
// slave side was set to (tcgetattr on the master reports the slave's settings) and
// treats bytes sent at a speed other than the transceiver's as line noise (dropped,
// logged as kNoise). With pace_line the replies are also held back for the time
// the frame and the reply would take on the wire (10 bits per byte).
//
// Command mode. A pseudo-terminal has no RTS line, so the transceiver recognises
// its command bytes by how they arrive: a single byte, alone in its write, with no
// other byte following within 30 ms (the port library pauses 100 ms after each).
// 0x0F is a probe and is echoed; 0x07 starts a speed change, followed by the speed
// code ("2".."6") and "Q", after which the transceiver listens at the new speed.
// Scanner frames always arrive whole in one write, so they are never mistaken.
//
// Frames: length byte, payload, checksum (all bytes sum to 0xA5 modulo 256); the
// read-record command ("2") carries a length byte one short of its frame, and the
// simulator accounts for that. A frame with a wrong checksum, or a partial frame
// followed by 100 ms of silence, is dropped without a reply (kBadFrame). Four 0xFF
// bytes between frames are a resynchronisation, answered "True" CR.
//
// Faults, so tests reach every failure path: one-shot faults and scripted replies
// queued for the next replies, and standing options (mute, delay, split, every n-th
// reply dropped or garbled, probes left unanswered).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scanner.h"

namespace r50sim {

struct Options {
  int transceiver_speed = 9600;  // the speed the transceiver listens at when started
  int ignore_probes = 0;         // probes (at the right speed) left unanswered; -1 = all
  bool mute = false;             // the scanner answers neither frames nor resyncs
  int delay_ms = 0;              // every reply is held back this long
  int split_ms = 0;              // every reply goes out in two chunks this far apart
  int drop_every = 0;            // every n-th reply is lost (0 = none)
  int garble_every = 0;          // every n-th reply is garbled (0 = none)
  bool pace_line = false;        // hold replies back for the wire time of frame + reply
  long memory_total = 1048576;   // scanner memory in bytes (a contents file may set it)
  std::string file;              // contents loaded at start, saved at stop and when sync ends
};

enum class FaultKind { kDrop, kGarble, kDelay, kSplit };
struct Fault {
  FaultKind kind;
  int ms = 0;  // for kDelay and kSplit
};

struct Event {
  enum Kind { kProbe, kProbeAnswered, kSpeedChange, kFrame, kResync, kBadFrame, kNoise, kReply };
  Kind kind;
  int speed = 0;      // the slave side's speed when the bytes arrived (new speed for kSpeedChange)
  std::string bytes;  // the frame (length byte to checksum), the reply, or the noise
  // When it happened: a frame or noise when its bytes arrived, a reply when it was
  // queued (due = at + its delay and pacing).
  std::chrono::steady_clock::time_point at;
};

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pseudo-terminal, loads the contents file if one is named and it
  // exists, and starts serving. Throws std::runtime_error on failure.
  void start();
  // Stops serving, saves the contents file if one is named, closes the terminal.
  void stop();

  const std::string& slave_path() const { return slave_path_; }

  // The speed the slave side is set to now (0 when unknown).
  int port_speed() const;
  int transceiver_speed() const;

  // Runs `f` on the scanner under the simulator's lock.
  void with_scanner(const std::function<void(Scanner&)>& f);
  // Changes options under the lock.
  void update(const std::function<void(Options&)>& f);

  void push_fault(Fault fault);
  // The next reply to a frame is `raw` instead of the scanner's answer (the command
  // is not carried out).
  void push_reply(std::string raw);
  // Writes raw bytes to the port `after_ms` from now, as if the scanner sent them.
  void inject(std::string bytes, int after_ms = 0);
  // Bytes written to the port so far (replies and injected bytes alike).
  size_t bytes_written() const { return written_.load(); }

  std::vector<Event> events() const;
  void clear_events();
  int count(Event::Kind kind) const;

  // Saves the contents to the named file now (no-op without a file).
  void save();

 private:
  using Clock = std::chrono::steady_clock;
  struct Outgoing {
    Clock::time_point due;
    std::string bytes;
  };

  void run();
  void on_bytes(const std::string& bytes, bool lone);
  void on_transceiver_byte(unsigned char byte, int speed);
  void process_frames(int speed);
  void reply(const std::string& text, size_t frame_bytes, int speed);
  void send_due();
  void log(Event::Kind kind, int speed, std::string bytes);

  Options options_;
  Scanner scanner_;
  int master_ = -1;
  int slave_keep_ = -1;
  int wake_[2] = {-1, -1};
  std::string slave_path_;
  std::thread thread_;
  bool running_ = false;

  mutable std::mutex mutex_;
  std::atomic<size_t> written_{0};
  bool stop_ = false;
  int transceiver_speed_;
  int command_state_ = 0;  // 0 idle, 1 awaiting speed code, 2 awaiting "Q"
  int pending_speed_ = 0;
  int probes_ignored_ = 0;
  long replies_ = 0;
  std::string pending_;
  Clock::time_point last_arrival_;
  std::deque<Fault> faults_;
  std::deque<std::string> scripted_;
  std::vector<Outgoing> outbox_;
  std::vector<Event> events_;
};

// Speed in bit/s of a termios speed constant (0 when not one we know).
int speed_from_termios(unsigned int constant);

}  // namespace r50sim
