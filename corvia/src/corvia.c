/*
 * Corvia's shared logic: the open sequence with the transceiver's speed probe and
 * command mode, line reading with time limits, writing, and the message hook.
 * Everything platform-specific goes through serial_port.h.
 *
 * Transceiver protocol (the cradle's infrared transceiver):
 *   - With RTS de-asserted the transceiver listens to commands; with RTS asserted
 *     bytes pass through to the scanner.
 *   - Probe: at a candidate speed, de-assert RTS and send 0x0F; a transceiver
 *     listening at that speed echoes 0x0F.
 *   - Speed change: with RTS de-asserted send 0x07, then the speed code ("2" 9600,
 *     "3" 19200, "4" 38400, "5" 57600, "6" 115200), then "Q"; all three go out at
 *     the transceiver's present speed, and the port follows afterwards.
 *   - Every settings change and every command byte is followed by a 100 ms pause,
 *     which the transceiver needs to settle.
 */
#include "corvia.h"

#include <stddef.h>
#include <string.h>

#include "serial_port.h"

enum {
  kSettleMs = 100,
  kProbeReadMs = 100,
  kChunkMax = 100,
  kLineMax = 255,
  kShortReadLimitMs = 500,
  kLongReadLimitMs = 5000,
  kWriteTimeoutBaseMs = 50,
  kWriteTimeoutPerByteMs = 5,
  kPortCount = 9,
};

static SerialPort* g_port = NULL;
static SerialSettings g_settings; /* keeps its values between opens, all zero at load */
static unsigned char g_chunk[256];
static char g_line[256];
static int g_show_messages = 1;
static corvia_message_hook g_hook = NULL;
static void* g_hook_data = NULL;

/* Index 0 and 1 both name COM1. */
static const int kPortNumbers[kPortCount] = {1, 1, 2, 3, 4, 5, 6, 7, 8};

static void show_message(const char* text, int icon) {
  if (!g_show_messages) return;
  if (g_hook != NULL) {
    g_hook("Error", text, icon, g_hook_data);
  } else {
    serial_default_message("Error", text);
  }
}

static void settle(void) { serial_sleep_ms(kSettleMs); }

static int apply_settings(void) { return serial_port_apply(g_port, &g_settings); }

static void send_command_byte(unsigned char byte) {
  serial_port_write(g_port, &byte, 1, kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs);
  settle();
}

static unsigned char speed_code(int speed) {
  switch (speed) {
    case 115200: return '6';
    case 57600: return '5';
    case 38400: return '4';
    case 19200: return '3';
    default: return '2';
  }
}

static int target_speed(int speed) {
  switch (speed) {
    case 115200:
    case 57600:
    case 38400:
    case 19200: return speed;
    default: return 9600;
  }
}

/* Sends the probe byte at `speed` and reports whether the transceiver echoed it. */
static int probe_speed(int speed) {
  g_settings.speed = speed;
  g_settings.rts_on = 0;
  apply_settings();
  settle();

  send_command_byte(0x0F);

  int answered = 0;
  uint64_t start = serial_ticks_ms();
  for (;;) {
    unsigned char byte = 0;
    int got = serial_port_read(g_port, &byte, 1);
    if (got >= 0) {
      answered = (got == 1 && byte == 0x0F);
      break;
    }
    /* Only a failing read call is retried, and only briefly. */
    if (serial_ticks_ms() - start >= kProbeReadMs) break;
    serial_sleep_ms(1);
  }

  g_settings.rts_on = 1;
  apply_settings();
  settle();
  return answered;
}

static int configure_transceiver(int speed) {
  g_settings.speed = 38400;
  g_settings.data_bits = 8;
  g_settings.parity = 0;
  g_settings.two_stop_bits = 0;
  g_settings.dtr_on = 1;
  g_settings.rts_on = 1;
  apply_settings();
  settle();

  static const int kProbeOrder[] = {9600, 38400, 115200, 57600, 19200};
  int found = 0;
  for (size_t i = 0; i < sizeof kProbeOrder / sizeof kProbeOrder[0]; ++i) {
    if (probe_speed(kProbeOrder[i])) {
      g_settings.speed = kProbeOrder[i];
      found = 1;
      break;
    }
  }
  if (!found) return 0;

  g_settings.rts_on = 0;
  apply_settings();
  settle();

  send_command_byte(0x07);
  /* The new speed is recorded but not applied yet: the code and "Q" still go out at
   * the speed the transceiver is listening at. */
  g_settings.speed = target_speed(speed);
  send_command_byte(speed_code(speed));
  send_command_byte('Q');

  g_settings.rts_on = 1;
  apply_settings();
  settle();

  g_settings.parity = 0;
  g_settings.data_bits = 8;
  g_settings.cts_output_flow = 0;
  g_settings.xon_output_flow = 0;
  return 1;
}

static void close_port(void) {
  if (g_port != NULL) serial_port_close(g_port);
  g_port = NULL;
}

/* Returns 1, 0 or -1 as vbOpenIrCom does. */
static int open_port(int port, int speed) {
  close_port();

  char path[512];
  if (port < 0 || port >= kPortCount ||
      !serial_port_device_path(kPortNumbers[port], path, sizeof path)) {
    show_message("Can not open the COM port!!", CORVIA_ICON_WARNING);
    return 0;
  }
  g_port = serial_port_open(path);
  if (g_port == NULL) {
    show_message("Can not open the COM port!!", CORVIA_ICON_WARNING);
    return 0;
  }
  /* Driver queue sizes cannot be chosen on this platform; the defaults are larger
   * than the 256 bytes the transceiver needs. */

  if (!configure_transceiver(speed)) {
    close_port();
    show_message("Can not configure the IR device!!", CORVIA_ICON_WARNING);
    return -1;
  }
  if (!apply_settings()) {
    close_port();
    show_message("Can not initialize the COM port!!", CORVIA_ICON_NONE);
    return -1;
  }
  return 1;
}

/* Collects one line into g_line within `limit_ms`. Returns its length or -1. */
static int read_line(int limit_ms) {
  if (g_port == NULL) return -1;
  uint64_t start = serial_ticks_ms();
  unsigned char last = 0;
  int length = 0;
  for (;;) {
    int got = serial_port_read(g_port, g_chunk, kChunkMax);
    if (got >= 0) {
      for (int i = 0; i < got; ++i) {
        if (length < kLineMax) g_line[length++] = (char)g_chunk[i];
      }
      last = got > 0 ? g_chunk[got - 1] : 0;
    }
    uint64_t elapsed = serial_ticks_ms() - start;
    if (elapsed > (uint64_t)limit_ms) return -1;
    if (last == 0x0D) {
      g_line[length] = '\0';
      return length;
    }
    /* Sleep until input arrives or the limit passes (plus one tick, so the check
     * above sees the limit as passed). */
    int wait = (int)((uint64_t)limit_ms - elapsed) + 1;
    serial_port_wait_input(g_port, got < 0 ? 1 : wait);
  }
}

CORVIA_API int vbOpenIrCom(int port, int speed) { return open_port(port, speed); }

CORVIA_API void* OpenIrCom(int port, int speed) {
  return open_port(port, speed) == 1 ? (void*)g_port : NULL;
}

CORVIA_API int CloseIrCom(void) {
  if (g_port == NULL) return 0;
  close_port();
  return 1;
}

CORVIA_API int WriteIrCom(const void* bytes, int count) {
  if (g_port == NULL || count < 0 || (bytes == NULL && count > 0)) return 0;
  if (count == 0) return 1;
  return serial_port_write(g_port, (const unsigned char*)bytes, count,
                           kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs * count);
}

CORVIA_API int vbReadIrCom(char* buffer) {
  int length = read_line(kShortReadLimitMs);
  if (length >= 0 && buffer != NULL) memcpy(buffer, g_line, (size_t)length + 1);
  return length;
}

CORVIA_API int PurgeIrCom(void) {
  if (g_port == NULL) return -1;
  int discarded = 0;
  for (;;) {
    int got = serial_port_read(g_port, g_chunk, kChunkMax);
    if (got <= 0) return discarded;
    discarded += got;
  }
}

CORVIA_API char* ReadIrCom(void) {
  if (g_port == NULL) return NULL;
  if (read_line(kLongReadLimitMs) < 0) {
    show_message("Time out!", CORVIA_ICON_NONE);
    return NULL;
  }
  return g_line;
}

CORVIA_API int ShowErrorMessage(int flag) {
  g_show_messages = flag > 0;
  return 1;
}

CORVIA_API int CopyMem(void* destination, const void* source, int count) {
  if (destination == NULL || source == NULL || count <= 0) return 0;
  unsigned char* to = (unsigned char*)destination;
  const unsigned char* from = (const unsigned char*)source;
  for (int i = 0; i < count; ++i) to[i] = from[i];
  return count;
}

CORVIA_API void corvia_set_message_hook(corvia_message_hook hook, void* user_data) {
  g_hook = hook;
  g_hook_data = hook != NULL ? user_data : NULL;
}
