// The data block shared by every process that has VxFmUt60 loaded.
//
// Layout (natural alignment, as the block has always been laid out; offsets checked
// below). Other processes depend on these offsets: never reorder or resize a field.
//
//   offset      size    field
//   0           2       registered message identifier (uint16)
//   2           260     user name
//   262         2       (padding)
//   264         4       user ID
//   268         4       command type
//   272         260     command file name
//   532         4       wait flag (int32, changed only atomically)
//   536         4       creator ID (four-character code)
//   540         4       HotSync user ID
//   544         4       read index (int32, -1 = empty)
//   548         4       write index
//   552         512*544 entries (Command_Entry)
//   279080              end of the documented block
//
// Command_Entry (544 bytes): type 0, creator 4, text reference 8, value 1..3 at 12, 16,
// 20, file name 24 (260), second text 284 (260).
//
// After the documented block follows the BlockTrailer: a marker that the block was fully
// initialised and the robust process-shared mutex that serialises adding and taking.
//
// Lifetime (see shared_block.cc for the protocol): created zeroed with the read index at
// -1 by the first process that attaches, unlinked by the last one that detaches; a block
// whose processes all died is recreated by the next one.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxfmut {

inline constexpr int kQueueSize = 512;
inline constexpr int kTextSize = 260;

struct Command_Entry {
  std::int32_t type;
  std::uint32_t creator;
  std::uint32_t text_reference;
  std::int32_t value1;
  std::int32_t value2;
  std::int32_t value3;
  char file_name[kTextSize];
  char second_text[kTextSize];
};

struct Shared_Block {
  std::uint16_t registered_message;
  char user_name[kTextSize];
  std::int32_t user_id;
  std::int32_t command_type;
  char command_file_name[kTextSize];
  std::int32_t wait_flag;
  std::uint32_t creator_id;
  std::int32_t hotsync_user_id;
  std::int32_t read_index;
  std::int32_t write_index;
  Command_Entry entries[kQueueSize];
};

static_assert(sizeof(Command_Entry) == 544);
static_assert(offsetof(Command_Entry, file_name) == 24);
static_assert(offsetof(Command_Entry, second_text) == 284);
static_assert(offsetof(Shared_Block, user_name) == 2);
static_assert(offsetof(Shared_Block, user_id) == 264);
static_assert(offsetof(Shared_Block, command_type) == 268);
static_assert(offsetof(Shared_Block, command_file_name) == 272);
static_assert(offsetof(Shared_Block, wait_flag) == 532);
static_assert(offsetof(Shared_Block, creator_id) == 536);
static_assert(offsetof(Shared_Block, hotsync_user_id) == 540);
static_assert(offsetof(Shared_Block, read_index) == 544);
static_assert(offsetof(Shared_Block, write_index) == 548);
static_assert(offsetof(Shared_Block, entries) == 552);
static_assert(sizeof(Shared_Block) == 279080);

inline constexpr std::uint64_t kTrailerMagic = 0x3036547546784656ull;  // "VFxFuT60"

struct BlockTrailer {
  std::uint64_t magic;  // written last by the creator: the block is complete
  pthread_mutex_t queue_lock;
};

// Shared_Block followed by its trailer, at the start of the mapping.
struct BlockMapping {
  Shared_Block block;
  BlockTrailer trailer;
};

// The attached block of this process. Never null after attach_shared_block(): if the
// shared object cannot be used, the process works on a private block (and says so on
// stderr), so the exports stay usable.
Shared_Block* shared_block();

// The name of the shared memory object beside the block with this suffix appended
// (block name from VXFMUT_SHM_NAME, default "/VxFmUt60-<uid>").
std::string shared_object_name(const char* suffix);

// Attaches this process (run once at load). Returns false when it fell back to a
// private block.
bool attach_shared_block();

// Detaches this process (run once at unload); the last process removes the block.
void detach_shared_block();

// Holds the queue lock for its lifetime. A lock left by a process that died is taken
// over (the queue's indices are always left consistent by the add and take steps).
class QueueLock {
 public:
  QueueLock();
  ~QueueLock();
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

 private:
  bool locked_ = false;
};

}  // namespace vxfmut
