// The command queue, the shared values and the random generator.
#include <atomic>
#include <cstring>

#include "library.h"
#include "shared_block.h"
#include "vxfmut/vxfmut.h"

namespace vxfmut {

namespace {

constexpr std::uint32_t kDefaultCreator = 0x4B545744u;  // 'KTWD'
constexpr const char* kDefaultSecondText = "Qmrz_PalmDB.dll";

bool has_text(const char* text) { return text && *text; }

// Types whose second text is always copied (an absent one is copied as empty).
bool keeps_second_text(std::int32_t type) { return type == 3 || type == 4 || type == 8; }

// The 32-bit field cannot hold a pointer of this platform, and a pointer of one process
// means nothing in another. The field keeps the pointer's low bits (never 0 for a
// non-null pointer) only as a mark that a text was passed.
std::uint32_t text_reference(const char* text) {
  if (!text) return 0;
  auto bits = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text));
  return bits ? bits : 1u;
}

std::uint32_t random_seed = 1;  // per process

std::atomic_ref<std::int32_t> wait_flag() {
  return std::atomic_ref<std::int32_t>(shared_block()->wait_flag);
}

}  // namespace

void copy_field(char* field, const char* text) {
  std::memset(field, 0, kTextSize);
  if (text) std::strncpy(field, text, kTextSize - 1);
}

std::int32_t Copy_Out_Text(char* buffer, std::int32_t length, std::string_view text) {
  if (buffer && length > 0) {
    std::memset(buffer, 0, static_cast<std::size_t>(length));
    std::size_t count = text.size() < static_cast<std::size_t>(length - 1)
                            ? text.size()
                            : static_cast<std::size_t>(length - 1);
    std::memcpy(buffer, text.data(), count);
  }
  return static_cast<std::int32_t>(text.size());
}

}  // namespace vxfmut

using namespace vxfmut;

extern "C" {

VF_API int32_t VF_AddToCommandQueueEx(int32_t type, const char* file_name, uint32_t creator,
                                      const char* second_text, int32_t value1, int32_t value2,
                                      int32_t value3) {
  try {
    bool rejected = false;
    if ((type >= 1 && type <= 5) || type == 9) {
      if (!has_text(file_name)) {
        Show_Library_Error(kErrBadFilename);
        rejected = true;
      }
    } else if (type == 7 || type == 8) {
      if (creator == 0) {
        Show_Library_Error(kErrBadCreator);
        rejected = true;
      }
      if (!has_text(file_name)) {
        Show_Library_Error(kErrBadFilename);
        rejected = true;
      }
    } else if (type != 6) {
      Show_Library_Error(kErrUnknownCommandType);
      rejected = true;
    }
    if (rejected) return 0;

    Shared_Block* block = shared_block();
    QueueLock lock;
    std::int32_t read = block->read_index;
    std::int32_t write = block->write_index;
    if (write < 0 || write >= kQueueSize) write = 0;  // never index outside the array
    if (read == write) return 0;                      // full
    std::int32_t slot = read == -1 ? 0 : write;
    Command_Entry& entry = block->entries[slot];
    entry.type = type;
    copy_field(entry.file_name, file_name);
    entry.creator = creator;
    entry.text_reference = text_reference(second_text);
    entry.value1 = value1;
    entry.value2 = value2;
    entry.value3 = value3;
    copy_field(entry.second_text, second_text);
    // Publish: the write index first, then the read index of an empty queue, so a
    // process that dies half-way leaves an empty queue rather than a "full" one.
    block->write_index = (slot + 1) % kQueueSize;
    if (read == -1) block->read_index = 0;
    return 1;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_AddToCommandQueue(int32_t type, const char* file_name) {
  return VF_AddToCommandQueueEx(type, file_name, kDefaultCreator, kDefaultSecondText, 0, 0, 0);
}

VF_API int32_t VF_GetNextCommandEx(int32_t* type, char* file_name, int32_t length,
                                   uint32_t* creator, const char** second_text,
                                   int32_t* value1, int32_t* value2, int32_t* value3) {
  Shared_Block* block = shared_block();
  QueueLock lock;
  std::int32_t read = block->read_index;
  if (read < 0 || read >= kQueueSize) return 0;
  const Command_Entry& entry = block->entries[read];
  if (type) *type = entry.type;
  if (file_name && length > 0) {
    std::strncpy(file_name, entry.file_name, static_cast<std::size_t>(length));
    file_name[length - 1] = '\0';
  }
  if (creator) *creator = entry.creator;
  if (value1) *value1 = entry.value1;
  if (value2) *value2 = entry.value2;
  if (value3) *value3 = entry.value3;
  if (second_text) {
    bool passed = keeps_second_text(entry.type) || entry.text_reference != 0;
    *second_text = passed ? entry.second_text : nullptr;
  }
  std::int32_t next = (read + 1) % kQueueSize;
  block->read_index = next == block->write_index ? -1 : next;
  return 1;
}

VF_API int32_t VF_GetNextCommand(int32_t* type, char* file_name, int32_t length) {
  return VF_GetNextCommandEx(type, file_name, length, nullptr, nullptr, nullptr, nullptr, nullptr);
}

VF_API int32_t VF_GetUserName(char* buffer, int32_t length) {
  const char* text = shared_block()->user_name;
  return Copy_Out_Text(buffer, length, std::string_view(text, strnlen(text, kTextSize)));
}

VF_API int32_t VF_GetCmdFilename(char* buffer, int32_t length) {
  const char* text = shared_block()->command_file_name;
  return Copy_Out_Text(buffer, length, std::string_view(text, strnlen(text, kTextSize)));
}

VF_API int32_t VF_SetUserName(const char* text) {
  copy_field(shared_block()->user_name, text);
  return 0;
}

VF_API int32_t VF_SetCmdFilename(const char* text) {
  copy_field(shared_block()->command_file_name, text);
  return 0;
}

VF_API int32_t VF_GetCmdType(void) { return shared_block()->command_type; }
VF_API int32_t VF_GetUserID(void) { return shared_block()->user_id; }
VF_API uint32_t VF_GetCreatorId(void) { return shared_block()->creator_id; }
VF_API int32_t VF_GetWaitFlag(void) { return wait_flag().load(); }

VF_API int32_t VF_SetCmdType(int32_t value) { return shared_block()->command_type = value; }
VF_API int32_t VF_SetUserID(int32_t value) { return shared_block()->user_id = value; }
VF_API uint32_t VF_SetCreatorId(uint32_t value) { return shared_block()->creator_id = value; }
VF_API int32_t VF_SetHotSyncUserId(int32_t value) { return shared_block()->hotsync_user_id = value; }
VF_API int32_t VF_SetWaitFlag(int32_t value) {
  wait_flag().store(value);
  return value;
}

VF_API int32_t VF_IncWaitFlag(void) { return wait_flag().fetch_add(1) + 1; }
VF_API int32_t VF_DecWaitFlag(void) { return wait_flag().fetch_sub(1) - 1; }

VF_API uint32_t VF_SeedRandom(uint32_t seed) { return random_seed = seed; }

VF_API uint32_t VF_GenerateRandom(void) {
  random_seed = random_seed * 1103515245u + 12345u;
  return random_seed;
}

VF_API void* VF_CopyRandomXOR(void* destination, const void* source, int32_t length) {
  if (!destination || !source || length <= 0) return destination;
  auto* out = static_cast<unsigned char*>(destination);
  const auto* in = static_cast<const unsigned char*>(source);
  for (int32_t i = 0; i < length; ++i) {
    out[i] = static_cast<unsigned char>(in[i] ^ (VF_GenerateRandom() & 0xFFu));
  }
  return destination;
}

}  // extern "C"
