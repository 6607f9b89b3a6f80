/*
 * Corvia's backend for POSIX terminals (termios).
 *
 * Mapping of the settings record:
 *   - raw mode: no input or output processing, no echo, no canonical lines, no
 *     signals, VMIN = VTIME = 0 (with O_NONBLOCK a read returns at once);
 *   - CS5..CS8, no parity, one or two stop bits, CREAD | CLOCAL, no HUPCL (closing
 *     does not drop DTR by itself), CRTSCTS and IXON only when the record asks;
 *   - DTR and RTS through TIOCMBIS / TIOCMBIC. A device without modem lines (a
 *     pseudo-terminal answers ENOTTY or EINVAL) is accepted: there is nothing to set.
 * Exclusive use: TIOCEXCL keeps other processes from opening the device, and an
 * flock() lock makes a second opener fail even when it runs as root (root may
 * bypass TIOCEXCL).
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "serial_port.h"

struct SerialPort {
  int fd;
};

static int speed_constant(int speed, speed_t* out) {
  switch (speed) {
    case 1200: *out = B1200; return 1;
    case 2400: *out = B2400; return 1;
    case 4800: *out = B4800; return 1;
    case 9600: *out = B9600; return 1;
    case 19200: *out = B19200; return 1;
    case 38400: *out = B38400; return 1;
    case 57600: *out = B57600; return 1;
    case 115200: *out = B115200; return 1;
    default: return 0;
  }
}

SerialPort* serial_port_open(const char* path) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return NULL;
  struct termios probe;
  if (!isatty(fd) || tcgetattr(fd, &probe) != 0) {
    close(fd);
    return NULL;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return NULL;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return NULL;
  }
  SerialPort* port = (SerialPort*)malloc(sizeof *port);
  if (port == NULL) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return NULL;
  }
  /* A port starts with empty queues: nothing a previous user left unread
   * (a reply that arrived after it closed) reaches this one. */
  tcflush(fd, TCIOFLUSH);
  port->fd = fd;
  return port;
}

static int set_modem_line(int fd, int line, int on) {
  int bits = line;
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 1;
  return errno == ENOTTY || errno == EINVAL;
}

int serial_port_apply(SerialPort* port, const SerialSettings* s) {
  if (port == NULL) return 0;
  speed_t speed;
  if (!speed_constant(s->speed, &speed)) return 0;
  tcflag_t size;
  switch (s->data_bits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return 0;
  }
  if (s->parity != 0) return 0;

  struct termios t;
  if (tcgetattr(port->fd, &t) != 0) return 0;
  t.c_iflag = s->xon_output_flow ? IXON : 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = size | CREAD | CLOCAL;
  if (s->two_stop_bits) t.c_cflag |= CSTOPB;
  if (s->cts_output_flow) t.c_cflag |= CRTSCTS;
  memset(t.c_cc, 0, sizeof t.c_cc);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return 0;
  if (tcsetattr(port->fd, TCSANOW, &t) != 0) return 0;

  if (!set_modem_line(port->fd, TIOCM_DTR, s->dtr_on)) return 0;
  if (!set_modem_line(port->fd, TIOCM_RTS, s->rts_on)) return 0;
  return 1;
}

int serial_port_read(SerialPort* port, unsigned char* buffer, int max) {
  if (port == NULL) return -1;
  ssize_t got = read(port->fd, buffer, (size_t)max);
  if (got >= 0) return (int)got;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return -1;
}

void serial_port_wait_input(SerialPort* port, int ms) {
  if (port == NULL || ms <= 0) return;
  struct pollfd p = {port->fd, POLLIN, 0};
  poll(&p, 1, ms);
}

int serial_port_write(SerialPort* port, const unsigned char* bytes, int count, int timeout_ms) {
  if (port == NULL) return 0;
  uint64_t deadline = serial_ticks_ms() + (uint64_t)timeout_ms;
  int done = 0;
  while (done < count) {
    ssize_t put = write(port->fd, bytes + done, (size_t)(count - done));
    if (put > 0) {
      done += (int)put;
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return 0;
    uint64_t now = serial_ticks_ms();
    if (now >= deadline) return 0;
    struct pollfd p = {port->fd, POLLOUT, 0};
    poll(&p, 1, (int)(deadline - now));
  }
  return 1;
}

void serial_port_close(SerialPort* port) {
  if (port == NULL) return;
  ioctl(port->fd, TIOCNXCL);
  flock(port->fd, LOCK_UN);
  close(port->fd);
  free(port);
}

uint64_t serial_ticks_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

void serial_sleep_ms(int ms) {
  uint64_t until = serial_ticks_ms() + (uint64_t)ms;
  for (;;) {
    uint64_t now = serial_ticks_ms();
    if (now >= until) return;
    uint64_t left = until - now;
    struct timespec ts = {(time_t)(left / 1000u), (long)(left % 1000u) * 1000000L};
    nanosleep(&ts, NULL);
  }
}

/* Looks for "COM<n>=<path>" in a ports file. Returns 1 when found. */
static int lookup_ports_file(const char* file, const char* name, char* out, size_t out_size) {
  FILE* f = fopen(file, "r");
  if (f == NULL) return 0;
  char line[1024];
  size_t name_length = strlen(name);
  int found = 0;
  while (!found && fgets(line, sizeof line, f) != NULL) {
    char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '#' || strncasecmp(p, name, name_length) != 0) continue;
    p += name_length;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '=') continue;
    ++p;
    while (*p == ' ' || *p == '\t') ++p;
    size_t n = strcspn(p, "\r\n");
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
    if (n == 0 || n >= out_size) continue;
    memcpy(out, p, n);
    out[n] = '\0';
    found = 1;
  }
  fclose(f);
  return found;
}

int serial_port_device_path(int number, char* out, size_t out_size) {
  char name[16];
  snprintf(name, sizeof name, "COM%d", number);

  char variable[32];
  snprintf(variable, sizeof variable, "CORVIA_%s", name);
  const char* value = getenv(variable);
  if (value != NULL && value[0] != '\0') {
    if (strlen(value) >= out_size) return 0;
    strcpy(out, value);
    return 1;
  }

  char file[1024];
  const char* config = getenv("CORVIA_CONFIG");
  if (config != NULL && config[0] != '\0') {
    if (lookup_ports_file(config, name, out, out_size)) return 1;
  } else {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    int have = 0;
    if (xdg != NULL && xdg[0] != '\0') {
      have = snprintf(file, sizeof file, "%s/corvia/ports", xdg) < (int)sizeof file;
    } else if (home != NULL && home[0] != '\0') {
      have = snprintf(file, sizeof file, "%s/.config/corvia/ports", home) < (int)sizeof file;
    }
    if (have && lookup_ports_file(file, name, out, out_size)) return 1;
    if (lookup_ports_file("/etc/corvia/ports", name, out, out_size)) return 1;
  }

  return snprintf(out, out_size, "/dev/ttyS%d", number - 1) < (int)out_size;
}

void serial_default_message(const char* title, const char* text) {
  fprintf(stderr, "%s: %s\n", title, text);
}
