/* VxFmUt60: utility library of the handheld forms runtime (libVxFmUt60.so).
 *
 * One data block shared by every process that has the library loaded carries a queue
 * of transfer commands, a wait counter and a few values the desktop side and the HotSync
 * conduit hand to each other. The desktop side queues commands and waits in
 * VF_FlushCommandQueueEx; the conduit takes them with VF_GetNextCommandEx and reports
 * back by posting the registered message to the hidden target window. The library also
 * knows where the forms product and Palm HotSync live, manages HotSync users (through
 * libUserEdit.so) and queues handheld applications for installation.
 *
 * Conventions for every export:
 *  - C linkage, plain names (see README: no "_Name@N" aliases on ELF).
 *  - Numbers are 32-bit; texts are zero-terminated 8-bit strings.
 *  - No export lets an exception escape; no export keeps a caller's pointer beyond the
 *    call, except VF_CreateMsgTarget (the owner).
 *  - Errors with a code are shown through a message box, or written to stderr when no
 *    message box can be shown (see "Display rule" below), and the export returns 0.
 *
 * Display rule. A process "has a display" when QT_QPA_PLATFORM is set and not empty (for
 * "xcb..." DISPLAY must be set too, for "wayland..." WAYLAND_DISPLAY), or, without it, when
 * DISPLAY or WAYLAND_DISPLAY is set and not empty. Dialogs (the wait dialog, the user
 * maintenance dialog) run as Qt widgets when the process has a display, including
 * QT_QPA_PLATFORM=offscreen, where they are invisible but work and can be driven by
 * messages or by code. Message boxes (errors, load messages) need someone to press OK:
 * they are shown only when the process has a display whose platform is not "offscreen"
 * or "minimal"; otherwise their text goes to stderr, one line per box, and the default
 * answer is taken at once. Without a display the user maintenance dialog writes its
 * texts to stderr and takes its default answer; the wait of VF_FlushCommandQueueEx writes
 * its texts to stderr and waits for the conduit on an event loop of its own, up to
 * VXFMUT_WAIT_SECONDS. Messages raised while the library is being loaded always go
 * to stderr (no application object may be created before the host's main()).
 * Qt hosts must create their QApplication before calling the library; otherwise the
 * library creates one (QApplication with a display, QCoreApplication without) and keeps
 * it until it is unloaded.
 *
 * Environment (all optional):
 *  VXFMUT_SHM_NAME      name of the shared block's POSIX shared memory object
 *                       (default "/VxFmUt60-<uid>"); tests use a private one.
 *                       Beside it live "<name>.lock" and "<name>.users" (the block's
 *                       lifetime locks) and "<name>.messages" (registered message names),
 *                       so every process that finds the block finds them, whatever its
 *                       XDG_RUNTIME_DIR; message targets are abstract sockets named after
 *                       the block (vxfmut/msg_channel.h), so no folder is involved.
 *  VXFMUT_WAIT_SECONDS  without a display, how long VF_FlushCommandQueueEx waits for the
 *                       conduit before it ends as if "&Abort" was pressed (default 600,
 *                       0 = no limit).
 *  TALLIMO_REGISTRY_DIR folder of the registry store (see registry/registry_store.h).
 */
#ifndef VXFMUT_VXFMUT_H_
#define VXFMUT_VXFMUT_H_

#include <stdint.h>

#if defined(_WIN32)
#define VF_API __declspec(dllexport)
#else
#define VF_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------
 * Command queue. Up to 512 commands, taken in the order they were added. Adding and
 * taking are serialised between processes by a lock kept beside the shared block.
 * Command types: 1-5 and 9 need a file name; 6 may have one; 7 and 8 need a non-zero
 * creator and a file name. For 3, 4 and 8 the second text is copied into the entry.
 * --------------------------------------------------------------------------------- */

/* Queues a command. Returns 1 if queued; 0 if rejected (the error is shown: 1010 for a
 * type outside 1..9, 1040 for a missing creator, 1020 for a missing file name; a type 7
 * or 8 with neither shows 1040, then 1020) or if the queue is full (no message).
 * `file_name` and `second_text` may be null; texts are cut to 259 characters.
 * `second_text` is also copied for types other than 3, 4 and 8 when given, so the taker
 * can read it (see VF_GetNextCommandEx). */
VF_API int32_t VF_AddToCommandQueueEx(int32_t type, const char* file_name, uint32_t creator,
                                      const char* second_text, int32_t value1, int32_t value2,
                                      int32_t value3);

/* VF_AddToCommandQueueEx(type, file_name, 'KTWD', "Qmrz_PalmDB.dll", 0, 0, 0). */
VF_API int32_t VF_AddToCommandQueue(int32_t type, const char* file_name);

/* Takes the oldest command. Returns 1 if one was taken; 0 when the queue is empty, and
 * then nothing is written. Every output but `type` may be null. The file name is copied
 * into `file_name` (when it is not null and `length` > 0), cut to length - 1 characters
 * and always zero-terminated. `second_text` receives a pointer to the text copied into
 * the command's slot of the shared block (valid while the library is loaded and until the
 * slot is reused by a later command), or null when the adder passed none. */
VF_API int32_t VF_GetNextCommandEx(int32_t* type, char* file_name, int32_t length,
                                   uint32_t* creator, const char** second_text,
                                   int32_t* value1, int32_t* value2, int32_t* value3);

/* VF_GetNextCommandEx with the creator, second text and values omitted. */
VF_API int32_t VF_GetNextCommand(int32_t* type, char* file_name, int32_t length);

/* Opens the modal wait dialog (caption, or "HotSync with Handheld" when null) until the
 * conduit posts code 2 to a message target. While it is open, each registered message
 * is ignored when `creator_filter` is not 0 and differs from the shared creator ID;
 * otherwise wparam 2 completes the dialog, wparam 3 ANDs lparam (1 or 0) into a success
 * mark that starts at 1, other codes are ignored.
 * Returns 0: completed with the mark still 1; 1: completed with the mark cleared;
 * 2: "&Abort" pressed, the dialog ended otherwise, or (without a display) the time limit
 *    passed, and then
 * the queue has been emptied. */
VF_API int32_t VF_FlushCommandQueueEx(const char* caption, uint32_t creator_filter);

/* VF_FlushCommandQueueEx(caption, 0). */
VF_API int32_t VF_FlushCommandQueue(const char* caption);

/* ---------------------------------------------------------------------------------
 * Conduit messaging. The message "VexForms 3.0 IPC Message" has one identifier in
 * every process that shares the block (0xC000 + its position in the name registry beside
 * the block; 0 if registration failed at load, shown as error 1030).
 * A message target is a named endpoint "VexForms Msg Target" (a Unix datagram socket
 * with an abstract name). Another process finds the targets by that name and posts
 * (message, wparam, lparam) to one; vxfmut/msg_channel.h documents the wire format and
 * offers the sending side. The target forwards the registered message, with its two
 * parameters, to its owner; other messages are dropped.
 * --------------------------------------------------------------------------------- */

/* The registered message identifier (16 bits). */
VF_API uint16_t VF_GetRegisteredMsg(void);

/* The owner a target forwards to: the caller's object. `post` and `context` are read
 * each time a message is forwarded; with `post` null the message is dropped. `post`
 * runs on the thread that created the target, from its Qt event loop. */
typedef struct VfMsgOwner {
  void (*post)(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam);
  void* context;
} VfMsgOwner;

typedef struct Message_Target Message_Target;

/* Creates a target for `owner` (may be null: the target then forwards nothing; the
 * owner object must outlive the target). Messages arrive while the creating thread runs
 * a Qt event loop (the library creates an application object if there is none).
 * Returns null only when memory runs out; a target whose endpoint could not be created
 * is returned all the same and never receives anything. */
VF_API Message_Target* VF_CreateMsgTarget(VfMsgOwner* owner);

/* Destroys the target and its endpoint. Null is ignored. May be called from the
 * owner's `post`. */
VF_API void VF_DeleteMsgTarget(Message_Target* target);

/* ---------------------------------------------------------------------------------
 * Shared values.
 * --------------------------------------------------------------------------------- */

/* Copy_Out_Text of the shared user name / command file name: when `buffer` is not null
 * and `length` > 0 the buffer is zero-filled and receives at most length - 1
 * characters. Returns the full length of the text, so a null buffer asks for the size. */
VF_API int32_t VF_GetUserName(char* buffer, int32_t length);
VF_API int32_t VF_GetCmdFilename(char* buffer, int32_t length);

/* Clear the shared text and store at most 259 characters of `text` (null stores the
 * empty text). The result carries no meaning (0). */
VF_API int32_t VF_SetUserName(const char* text);
VF_API int32_t VF_SetCmdFilename(const char* text);

/* The shared values. */
VF_API int32_t VF_GetCmdType(void);
VF_API int32_t VF_GetUserID(void);
VF_API uint32_t VF_GetCreatorId(void);
VF_API int32_t VF_GetWaitFlag(void);

/* Store the shared value and return it. */
VF_API int32_t VF_SetCmdType(int32_t value);
VF_API int32_t VF_SetUserID(int32_t value);
VF_API uint32_t VF_SetCreatorId(uint32_t value);
VF_API int32_t VF_SetHotSyncUserId(int32_t value);
VF_API int32_t VF_SetWaitFlag(int32_t value);

/* Add or subtract 1 atomically across processes; return the new value. */
VF_API int32_t VF_IncWaitFlag(void);
VF_API int32_t VF_DecWaitFlag(void);

/* ---------------------------------------------------------------------------------
 * Pseudo-random numbers (per process, seed 1 at load):
 * seed = seed * 1103515245 + 12345 (mod 2^32); the new seed is the result.
 * --------------------------------------------------------------------------------- */
VF_API uint32_t VF_SeedRandom(uint32_t seed);
VF_API uint32_t VF_GenerateRandom(void);
/* Writes `length` bytes: each source byte XOR the low 8 bits of the next random value.
 * The same seed and length undo it. `length` <= 0 or a null pointer writes nothing.
 * Source and destination may be the same buffer. Returns `destination`. */
VF_API void* VF_CopyRandomXOR(void* destination, const void* source, int32_t length);

/* ---------------------------------------------------------------------------------
 * Where things are, read once at load from the registry store. Each returns the full
 * length of the text and copies it as VF_GetUserName does.
 * --------------------------------------------------------------------------------- */
VF_API int32_t VF_GetVexFormsDir(char* buffer, int32_t length);
VF_API int32_t VF_GetTrennicDir(char* buffer, int32_t length); /* same as VF_GetVexFormsDir */
VF_API int32_t VF_GetPalmKey(char* buffer, int32_t length);
VF_API int32_t VF_GetHotSyncDir(char* buffer, int32_t length);
VF_API int32_t VF_GetHotSyncDataDir(char* buffer, int32_t length);
VF_API int32_t VF_GetHotSyncPath(char* buffer, int32_t length);
/* Largest "major.minor" subkey of the Palm machine key: major << 16 | minor; 0 if none. */
VF_API uint32_t VF_GetHotSyncVersion(void);

/* ---------------------------------------------------------------------------------
 * HotSync users (through libUserEdit.so, initialised on the first call with the HotSync
 * data folder) and the install queue.
 * --------------------------------------------------------------------------------- */

/* The caller's view of a HotSync user. */
typedef struct User_Record {
  uint32_t id;
  char name[32];
  char folder[260]; /* the user's folder below the HotSync data folder */
  uint16_t value;   /* the user's slot as the user manager reports it */
} User_Record;

/* Results are those of the user manager (non-zero = success); the record is written
 * only on success. `reserved` values are passed on unchanged. */
VF_API int32_t VF_FindFirstUser(User_Record* record, int32_t reserved);
VF_API int32_t VF_FindNextUser(User_Record* record, int32_t reserved);
VF_API int32_t VF_FindUserByID(uint32_t id, User_Record* record, int32_t* status);
/* Adds a user named record->name; on success the record receives ID, folder and value. */
VF_API int32_t VF_AddUser(User_Record* record, int32_t reserved);
VF_API int32_t VF_DeleteUser(uint32_t id, int32_t reserved);
VF_API int32_t VF_RenameUser(uint32_t id, const char* new_name, int32_t reserved);
VF_API int32_t VF_CommitUserChanges(int32_t reserved);
/* Throws unsaved changes away by re-initialising the user manager and returns that
 * result; 0 and status 4001 when it was not initialised. */
VF_API int32_t VF_AbandonUserChanges(int32_t* status);

/* Queues `file` for installation at the user's next HotSync: copies it (replacing an
 * earlier copy, permissions set to rw-r--r--) into <HotSync data folder>/<user folder>/
 * Install/ and sets the dword "Install<ID>" = 1 under HKEY_CURRENT_USER\<Palm key>\
 * HotSync Manager. User ID 0 means the shared HotSync user ID. Returns 1 when flagged,
 * 0 otherwise (ID 0 with shared ID 0, folder not creatable, flag key missing; a failed
 * copy shows error 1050 naming source and target). A user the user manager does not
 * know gets the flag without a copy. */
VF_API int32_t VF_InstallPRC(uint32_t user_id, const char* file);

/* 1 when the user's Install folder holds at least one entry that is not a folder. */
VF_API int32_t VF_CheckInstallPending(uint32_t user_id);

/* Shows the (disabled) user maintenance dialog modally until Cancel. Returns 1. */
VF_API int32_t VF_UserMaintenance(void);

#ifdef __cplusplus
}
#endif

#endif /* VXFMUT_VXFMUT_H_ */
