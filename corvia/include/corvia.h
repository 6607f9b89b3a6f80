/*
 * Corvia: the serial port of the infrared scanner cradle.
 *
 * Corvia owns one serial port at a time. Opening it brings the cradle's infrared
 * transceiver to a chosen line speed (the transceiver is commanded with RTS
 * de-asserted, data flows with RTS asserted); after that the caller writes bytes
 * and reads reply lines ending in CR, each read bounded by a time limit.
 *
 * Threading: all state is module-global and unlocked. Call from one thread.
 *
 * Exceptions never leave these functions; every failure is a result code.
 *
 * Port numbers. The port name table maps numbers 0..8 onto "COM1" (0 and 1),
 * "COM2" (2) ... "COM8" (8). A COM name is turned into a device path by, in order:
 *   1. the environment variable CORVIA_COM<n> (for example CORVIA_COM3=/dev/ttyUSB0
 *      or CORVIA_COM3=/dev/pts/5);
 *   2. a line "COM<n>=<path>" in the file named by CORVIA_CONFIG, or when that is
 *      unset in $XDG_CONFIG_HOME/corvia/ports (default ~/.config/corvia/ports), or
 *      in /etc/corvia/ports (blank lines and lines starting with '#' are ignored);
 *   3. the default /dev/ttyS<n-1> (COM1 = /dev/ttyS0 ... COM8 = /dev/ttyS7).
 * The lookup happens at every open, so a changed variable or file takes effect at
 * the next open.
 *
 * Messages. Four failures produce a message ("Can not open the COM port!!",
 * "Can not configure the IR device!!", "Can not initialize the COM port!!",
 * "Time out!"), always with the title "Error". They go to the installed message
 * hook, by default a line "Error: <text>" on stderr, and only while messages are
 * switched on (ShowErrorMessage).
 */
#ifndef CORVIA_H
#define CORVIA_H

#if defined(_WIN32)
#define CORVIA_API __declspec(dllexport)
#else
#define CORVIA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens port number `port` (0..8, see the port name table above) and configures the
 * transceiver for `speed` bit/s: 115200, 57600, 38400 and 19200 are used as given,
 * any other value (0 included) means 9600. Probing the transceiver's present speed
 * and commanding the change takes at least 0.9 s (settle pauses of 100 ms).
 *
 * An already open port is closed first (one port at a time).
 *
 * Returns 1 when the port is open at `speed` with DTR and RTS asserted;
 * 0 when the device could not be opened (missing, not a terminal, held by another
 *   program, or a port number outside 0..8): message "Can not open the COM port!!";
 * -1 when the transceiver answered no probe ("Can not configure the IR device!!",
 *   after about 1.6 s) or the port refused the final settings ("Can not initialize
 *   the COM port!!").
 * Every failure leaves no port open.
 */
CORVIA_API int vbOpenIrCom(int port, int speed);

/*
 * Same as vbOpenIrCom, but returns an opaque non-NULL handle on success (do not
 * dereference or free it; it stays valid until CloseIrCom) and NULL on every failure.
 */
CORVIA_API void* OpenIrCom(int port, int speed);

/* Closes the open port. Returns nonzero when a port was closed, 0 when none was open. */
CORVIA_API int CloseIrCom(void);

/*
 * Writes `count` bytes from `bytes` to the open port in one call, waiting at most
 * 50 ms + 5 ms per byte for the driver to take them. Returns nonzero when all bytes
 * were written; 0 when no port is open, `bytes` is NULL with a positive count, the
 * count is negative, or the write failed or timed out (some bytes may then have
 * gone out). A count of 0 writes nothing and succeeds on an open port.
 */
CORVIA_API int WriteIrCom(const void* bytes, int count);

/*
 * Reads one reply line: bytes are collected until a read returns a chunk whose last
 * byte is CR (a CR followed by more bytes in the same chunk does not end the line).
 * The line keeps its CR; bytes beyond 255 are dropped. The 500 ms limit runs from
 * the start of the call and is not renewed when bytes arrive.
 *
 * `buffer` (owned by the caller, at least 256 bytes) receives the zero-terminated
 * line. It may be NULL: the line is then consumed and only its length returned.
 * Returns the line's length (CR included, zero byte excluded), or -1 when no line
 * ended within the limit or no port is open; the buffer is then left untouched and
 * the bytes read so far are discarded.
 */
CORVIA_API int vbReadIrCom(char* buffer);

/*
 * Discards every byte that has arrived on the open port and not been read yet
 * (a late reply, line noise), without waiting. Callers use it before sending a
 * command, so that its reply cannot be mistaken for an older one.
 * Returns the number of bytes discarded, or -1 when no port is open.
 */
CORVIA_API int PurgeIrCom(void);

/*
 * Like vbReadIrCom with a 5000 ms limit. Returns a pointer to the library's own line
 * buffer (valid until the next read; do not free it), or NULL when no line ended in
 * time (message "Time out!") or no port is open (no message).
 */
CORVIA_API char* ReadIrCom(void);

/* Switches the four messages on (flag > 0) or off (flag <= 0). Always returns 1. */
CORVIA_API int ShowErrorMessage(int flag);

/*
 * Copies `count` bytes from `source` to `destination`, one by one from the first to
 * the last. Nothing happens when the count is zero or negative or either pointer is
 * NULL. Returns the number of bytes copied.
 */
CORVIA_API int CopyMem(void* destination, const void* source, int count);

/* Icons a message asks for. */
enum { CORVIA_ICON_NONE = 0, CORVIA_ICON_WARNING = 1 };

/*
 * Receives a message: `title` (always "Error") and `text` are valid during the call
 * only; `icon` is a CORVIA_ICON_ value; `user_data` is the pointer given when the
 * hook was installed. Called on the thread that called Corvia.
 */
typedef void (*corvia_message_hook)(const char* title, const char* text, int icon, void* user_data);

/*
 * Installs the message hook. NULL restores the default (stderr). `user_data` may be
 * NULL and is passed through untouched; Corvia never frees it. The hook must return
 * normally (a C++ hook must not let an exception escape).
 */
CORVIA_API void corvia_set_message_hook(corvia_message_hook hook, void* user_data);

#ifdef __cplusplus
}
#endif

#endif /* CORVIA_H */
