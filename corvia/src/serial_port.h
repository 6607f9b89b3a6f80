/*
 * The platform backend behind Corvia: one file per platform, chosen by the build
 * (serial_port_posix.c for termios systems). The shared logic in corvia.c never
 * touches an operating-system call directly.
 */
#ifndef CORVIA_SERIAL_PORT_H
#define CORVIA_SERIAL_PORT_H

#include <stddef.h>
#include <stdint.h>

/* The port settings record. Only the fields listed here exist; every other aspect
 * of the line is fixed: no parity checking, no special characters, no flow control
 * of any kind unless a field below asks for it, raw bytes in both directions. */
typedef struct SerialSettings {
  int speed;         /* bit/s; 0 until first set */
  int data_bits;     /* 5..8 */
  int parity;        /* 0 = none (the only value Corvia uses) */
  int two_stop_bits; /* 0 = one stop bit */
  int dtr_on;        /* DTR line asserted */
  int rts_on;        /* RTS line asserted */
  int cts_output_flow;
  int xon_output_flow;
} SerialSettings;

typedef struct SerialPort SerialPort;

/* Opens an existing terminal device for reading and writing, exclusively, with
 * non-blocking reads. Returns NULL on failure. */
SerialPort* serial_port_open(const char* path);

/* Applies the settings record to the port. Returns 1 on success, 0 on failure. */
int serial_port_apply(SerialPort* port, const SerialSettings* settings);

/* Reads up to `max` bytes without waiting. Returns the number of bytes read (0 when
 * none had arrived), or -1 when the read call itself failed. */
int serial_port_read(SerialPort* port, unsigned char* buffer, int max);

/* Waits up to `ms` milliseconds for input to arrive (or the port to fail). The
 * read-line loop uses it instead of spinning the processor between reads. */
void serial_port_wait_input(SerialPort* port, int ms);

/* Writes all bytes, giving up after `timeout_ms`. Returns 1 when all were written. */
int serial_port_write(SerialPort* port, const unsigned char* bytes, int count, int timeout_ms);

void serial_port_close(SerialPort* port);

/* Milliseconds of a monotonic clock. */
uint64_t serial_ticks_ms(void);

/* Pauses the calling thread for at least `ms` milliseconds. */
void serial_sleep_ms(int ms);

/* The device path of COM<number> (1..8) into `out`; see corvia.h for the lookup
 * order. Returns 1 on success, 0 when the path does not fit. */
int serial_port_device_path(int number, char* out, size_t out_size);

/* Writes a message line to the standard error stream. */
void serial_default_message(const char* title, const char* text);

#endif
