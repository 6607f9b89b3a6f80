// Shared block lifetime, between processes that come and go (and may be killed, or fork).
//
// Three POSIX shared memory objects per block name N (VXFMUT_SHM_NAME, default
// "/VxFmUt60-<uid>"), all in the one namespace every process that finds the block shares
// (whatever its environment, such as XDG_RUNTIME_DIR, says):
//   N           the block itself (BlockMapping)
//   N.lock      serialises attach and detach (flock LOCK_EX)
//   N.users     every attached process holds LOCK_SH on it
//
// Invariants:
//   1. Attach and detach run only while holding LOCK_EX on N.lock.
//   2. A process holds LOCK_SH on N.users exactly while it is attached to a complete
//      block. The kernel drops the lock when the process dies, however it dies.
//   3. Hence, under (1), "LOCK_EX on N.users can be taken without waiting" means that no
//      live process is attached: whatever N holds is stale (left by killed processes, or
//      half-initialised by a creator that died) and is never reused.
//   4. flock locks belong to an open file description, which fork() shares between
//      parent and child. So a child never uses the descriptors it inherited: right after
//      fork it takes a shared lock of its own on a new description (it is then attached
//      like any other process) and closes the inherited ones. Detach acts only on the
//      descriptors of the process that attached them.
//
// Attach (attach_shared_block):
//   take LOCK_EX on N.lock
//   if LOCK_EX|LOCK_NB on N.users succeeds (nobody attached):
//       shm_unlink(N); shm_open(N, O_CREAT|O_EXCL); ftruncate (zero-filled);
//       read index = -1; initialise the robust queue mutex; write the trailer magic;
//       turn the lock on N.users into LOCK_SH               (we are attached)
//   else:
//       shm_open(N); check size and trailer magic; take LOCK_SH on N.users
//   release N.lock
// Detach (detach_shared_block):
//   take LOCK_EX on N.lock
//   if our lock on N.users can become LOCK_EX without waiting: shm_unlink(N) (last one)
//   unmap, close N.users (drops our lock), release N.lock
//
// The lock objects themselves are never removed: a process may already have one open
// and be waiting for its lock, and a new object would split the processes in two groups.
// A block left behind by processes that were all killed stays in /dev/shm until the
// next process attaches and replaces it.
#include "shared_block.h"

#include "vxfmut/msg_channel.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>


namespace vxfmut {

namespace {

struct Attachment {
  BlockMapping* mapping = nullptr;
  bool shared = false;  // false: a private fallback block
  int lock_fd = -1;
  int users_fd = -1;
  pid_t owner = 0;  // the process whose descriptors lock_fd and users_fd are
  std::string shm_name;
  std::string lock_name;   // N.lock
  std::string users_name;  // N.users
};

// Never destroyed: the library's unload runs after the process's static objects are gone.
Attachment& attachment() {
  static Attachment* instance = new Attachment;
  return *instance;
}

bool flock_retry(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void init_block(BlockMapping* mapping) {
  // The mapping of a freshly truncated object is zero-filled.
  mapping->block.read_index = -1;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&mapping->trailer.queue_lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
  __atomic_store_n(&mapping->trailer.magic, kTrailerMagic, __ATOMIC_RELEASE);
}

BlockMapping* map_object(int fd) {
  void* address = ::mmap(nullptr, sizeof(BlockMapping), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return address == MAP_FAILED ? nullptr : static_cast<BlockMapping*>(address);
}

BlockMapping* create_block(const std::string& name, std::string& why) {
  ::shm_unlink(name.c_str());
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = "cannot create shared memory " + name + ": " + std::strerror(errno);
    return nullptr;
  }
  BlockMapping* mapping = nullptr;
  if (::ftruncate(fd, sizeof(BlockMapping)) == 0) mapping = map_object(fd);
  if (!mapping) why = "cannot size or map shared memory " + name + ": " + std::strerror(errno);
  ::close(fd);
  if (!mapping) {
    ::shm_unlink(name.c_str());
    return nullptr;
  }
  init_block(mapping);
  return mapping;
}

BlockMapping* open_block(const std::string& name, std::string& why) {
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = "cannot open shared memory " + name + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  BlockMapping* mapping = nullptr;
  if (::fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(sizeof(BlockMapping))) {
    why = "shared memory " + name + " has " + std::to_string(st.st_size) + " bytes, expected " +
          std::to_string(sizeof(BlockMapping)) + " (another library version?)";
  } else {
    mapping = map_object(fd);
    if (!mapping) {
      why = "cannot map shared memory " + name + ": " + std::strerror(errno);
    } else if (__atomic_load_n(&mapping->trailer.magic, __ATOMIC_ACQUIRE) != kTrailerMagic) {
      why = "shared memory " + name + " is not a complete VxFmUt60 block";
      ::munmap(mapping, sizeof(BlockMapping));
      mapping = nullptr;
    }
  }
  ::close(fd);
  return mapping;
}

bool attach_locked(Attachment& a, std::string& why) {
  if (!flock_retry(a.users_fd, LOCK_EX | LOCK_NB)) {
    if (errno != EWOULDBLOCK) {
      why = std::string("cannot lock the users file: ") + std::strerror(errno);
      return false;
    }
    a.mapping = open_block(a.shm_name, why);
    if (!a.mapping) return false;
    if (!flock_retry(a.users_fd, LOCK_SH)) {
      why = std::string("cannot lock the users file: ") + std::strerror(errno);
      ::munmap(a.mapping, sizeof(BlockMapping));
      a.mapping = nullptr;
      return false;
    }
    return true;
  }
  a.mapping = create_block(a.shm_name, why);
  if (!a.mapping) {
    flock_retry(a.users_fd, LOCK_UN);
    return false;
  }
  // Nobody else can look at N.users while we hold N.lock, so the conversion, which may
  // briefly drop the lock, is safe.
  if (!flock_retry(a.users_fd, LOCK_SH)) {
    why = std::string("cannot lock the users file: ") + std::strerror(errno);
    ::munmap(a.mapping, sizeof(BlockMapping));
    a.mapping = nullptr;
    ::shm_unlink(a.shm_name.c_str());
    return false;
  }
  return true;
}

int open_lock_object(const std::string& name) {
  return ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

// Runs in the child right after fork() (see invariant 4). Only system calls here: the
// child of a threaded process may not allocate. On failure the child keeps its view of
// the block but is not counted as attached, and never detaches.
void after_fork_in_child() {
  Attachment& a = attachment();
  if (!a.shared || a.owner == ::getpid()) return;
  int inherited_lock = a.lock_fd, inherited_users = a.users_fd;
  a.lock_fd = open_lock_object(a.lock_name);
  a.users_fd = open_lock_object(a.users_name);
  bool attached = a.lock_fd >= 0 && a.users_fd >= 0 && flock_retry(a.lock_fd, LOCK_EX);
  if (attached) {
    attached = flock_retry(a.users_fd, LOCK_SH);
    flock_retry(a.lock_fd, LOCK_UN);
  }
  if (inherited_lock >= 0) ::close(inherited_lock);
  if (inherited_users >= 0) ::close(inherited_users);
  if (!attached) {
    if (a.lock_fd >= 0) ::close(a.lock_fd);
    if (a.users_fd >= 0) ::close(a.users_fd);
    a.lock_fd = a.users_fd = -1;
    a.shared = false;
    a.owner = 0;
    return;
  }
  a.owner = ::getpid();
}

void fall_back_to_private(Attachment& a, const std::string& why) {
  std::fprintf(stderr, "VxFmUt60: %s; this process uses a private command block\n", why.c_str());
  void* address = ::mmap(nullptr, sizeof(BlockMapping), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED) {
    static BlockMapping last_resort;  // zero-initialised
    address = &last_resort;
  }
  a.mapping = static_cast<BlockMapping*>(address);
  init_block(a.mapping);
  a.shared = false;
}

}  // namespace

std::string shared_object_name(const char* suffix) { return block_name() + suffix; }

Shared_Block* shared_block() {
  Attachment& a = attachment();
  if (!a.mapping) fall_back_to_private(a, "the shared block is not attached");
  return &a.mapping->block;
}

bool attach_shared_block() {
  Attachment& a = attachment();
  if (a.mapping) return a.shared;
  a.shm_name = block_name();
  a.lock_name = a.shm_name + ".lock";
  a.users_name = a.shm_name + ".users";
  static bool fork_handler_installed = false;
  if (!fork_handler_installed) {
    fork_handler_installed = ::pthread_atfork(nullptr, nullptr, &after_fork_in_child) == 0;
  }
  std::string why;
  a.lock_fd = open_lock_object(a.lock_name);
  a.users_fd = a.lock_fd >= 0 ? open_lock_object(a.users_name) : -1;
  if (a.lock_fd < 0 || a.users_fd < 0) {
    why = "cannot open the lock objects " + a.lock_name + ", " + a.users_name + ": " + std::strerror(errno);
  } else if (!flock_retry(a.lock_fd, LOCK_EX)) {
    why = "cannot lock " + a.lock_name + ": " + std::strerror(errno);
  } else {
    bool ok = attach_locked(a, why);
    flock_retry(a.lock_fd, LOCK_UN);
    if (ok) {
      a.shared = true;
      a.owner = ::getpid();
      return true;
    }
  }
  if (a.lock_fd >= 0) ::close(a.lock_fd);
  if (a.users_fd >= 0) ::close(a.users_fd);
  a.lock_fd = a.users_fd = -1;
  fall_back_to_private(a, why);
  return false;
}

void detach_shared_block() {
  Attachment& a = attachment();
  if (!a.mapping) return;
  if (!a.shared || a.owner != ::getpid()) {
    // A private block, or a child that could not attach on its own: nothing of the
    // shared block's lifetime is ours to change.
    ::munmap(a.mapping, sizeof(BlockMapping));
    a.mapping = nullptr;
    return;
  }
  flock_retry(a.lock_fd, LOCK_EX);
  if (::flock(a.users_fd, LOCK_EX | LOCK_NB) == 0) ::shm_unlink(a.shm_name.c_str());
  ::munmap(a.mapping, sizeof(BlockMapping));
  a.mapping = nullptr;
  ::close(a.users_fd);
  a.users_fd = -1;
  flock_retry(a.lock_fd, LOCK_UN);
  ::close(a.lock_fd);
  a.lock_fd = -1;
  a.shared = false;
}

QueueLock::QueueLock() {
  shared_block();  // makes sure a mapping exists
  pthread_mutex_t* mutex = &attachment().mapping->trailer.queue_lock;
  int rc = pthread_mutex_lock(mutex);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(mutex);
    rc = 0;
  }
  locked_ = rc == 0;
}

QueueLock::~QueueLock() {
  if (locked_) pthread_mutex_unlock(&attachment().mapping->trailer.queue_lock);
}

}  // namespace vxfmut
