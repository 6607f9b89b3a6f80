/* UserEdit: the HotSync user manager (libUserEdit.so).
 *
 * Keeps the list of HotSync users of one HotSync data folder. The list lives in the
 * text file "UserEdit.users" inside that folder; each user also has a folder of its
 * own below the data folder (its "folder name"), created when the changes are saved.
 *
 * State is per process: InitUserManager loads the list into memory, the find, add,
 * delete and rename calls work on that copy, SaveUserChanges writes it back (atomically:
 * temporary file, fsync, rename), UninitUserManager forgets it, throwing unsaved changes
 * away. Not thread-safe: call from one thread.
 *
 * File format: one user per line, fields separated by a TAB:
 *   <ID in decimal> TAB <value in decimal> TAB <folder name> TAB <user name>
 * Lines starting with '#' are comments.
 *
 * Results: every function returns non-zero on success and 0 on failure. Where a status
 * is asked for, it receives 0 on success or one of the kUserEdit... codes below.
 * Arguments documented as "reserved" are passed through by callers; they must be 0 and
 * are ignored otherwise.
 */
#ifndef USEREDIT_USEREDIT_H_
#define USEREDIT_USEREDIT_H_

#include <stdint.h>

#if defined(_WIN32)
#define USEREDIT_API __declspec(dllexport)
#else
#define USEREDIT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The user manager's record: 336 bytes. Offsets are part of the contract. */
typedef struct UserEditRecord {
  uint32_t id;        /* offset 0: the user's HotSync ID, never 0 for a real user */
  char name[32];      /* offset 4: user name, zero-terminated */
  char folder[292];   /* offset 36: folder name below the data folder, zero-terminated */
  uint16_t value;     /* offset 328: the user's slot, 1-based position in the list */
  uint8_t reserved[6];
} UserEditRecord;

enum {
  kUserEditNotInitialised = 4001, /* no list loaded (InitUserManager not called or failed) */
  kUserEditBadFolder = 4002,      /* data folder empty, missing or not a folder */
  kUserEditNotFound = 4003,       /* no user with that ID */
  kUserEditBadName = 4004,        /* empty, too long, duplicate, or holds TAB / line breaks */
  kUserEditIoError = 4005,        /* the list file or a user folder could not be read/written */
  kUserEditBadArgument = 4006     /* a null record or status pointer */
};

/* Loads the list of `data_folder` (a folder path, normally with a trailing separator).
 * A missing list file is an empty list. Replaces a list loaded before. `status` may be
 * null. */
USEREDIT_API int32_t InitUserManager(const char* data_folder, int32_t* status);

/* Forgets the loaded list (unsaved changes are lost). 0 and kUserEditNotInitialised when
 * nothing was loaded. `status` may be null. */
USEREDIT_API int32_t UninitUserManager(int32_t* status);

/* Fills `record` with the first user of the list and starts an enumeration; 0 when the
 * list is empty or not loaded (the record is then untouched). `reserved`: 0. */
USEREDIT_API int32_t FindFirstUser(UserEditRecord* record, int32_t reserved);

/* The next user of the enumeration started by FindFirstUser; 0 after the last. */
USEREDIT_API int32_t FindNextUser(UserEditRecord* record, int32_t reserved);

/* Fills `record` with the user of that ID; 0 and kUserEditNotFound when there is none.
 * `status` may be null. */
USEREDIT_API int32_t FindUserByID(uint32_t id, UserEditRecord* record, int32_t* status);

/* Adds a user named `record->name` (other fields ignored). On success the record
 * receives the new ID (one above the largest in the list), a folder name derived from
 * the name (characters unsafe in file names replaced by '_', made unique) and the slot.
 * Fails for an empty, duplicate (ASCII case ignored) or unterminated name. */
USEREDIT_API int32_t AddUser(UserEditRecord* record, int32_t reserved);

/* Removes the user of that ID from the list (its folder stays on disk). */
USEREDIT_API int32_t DeleteUser(uint32_t id, int32_t reserved);

/* Gives the user of that ID a new name (same rules as AddUser); the folder keeps its name. */
USEREDIT_API int32_t RenameUser(uint32_t id, const char* new_name, int32_t reserved);

/* Writes the list to the data folder and creates every user's folder. */
USEREDIT_API int32_t SaveUserChanges(int32_t reserved);

#ifdef __cplusplus
}
#endif

#endif /* USEREDIT_USEREDIT_H_ */
