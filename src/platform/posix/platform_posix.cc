// SPDX-License-Identifier: BSD-2-Clause
// POSIX side of the platform seam: files, clocks, threads, the profile file.
#include "platform/platform.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kivo::os {

void* SystemAlloc(uint32_t size) { return malloc(size); }
void SystemFree(void* block) { free(block); }

FileHandle OpenFileRead(const char* path, bool sequential) {
  if (!path) return kNoFile;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return fd;
}

int64_t ReadFileBytes(FileHandle file, void* buffer, uint32_t size) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (total < size) {
    ssize_t n = ::read(static_cast<int>(file), out + total, size - static_cast<uint32_t>(total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    total += n;
  }
  return total;
}

bool SeekFile(FileHandle file, int64_t position) {
  return position >= 0 && ::lseek(static_cast<int>(file), position, SEEK_SET) == position;
}

int64_t TellFile(FileHandle file) { return ::lseek(static_cast<int>(file), 0, SEEK_CUR); }

int64_t FileSize(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

bool WriteFileAtomically(const char* path, const void* data, uint32_t size) {
  std::string temp = std::string(path) + ".tmp" + std::to_string(getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  uint32_t done = 0;
  bool ok = true;
  while (done < size) {
    ssize_t n = ::write(fd, in + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { ok = false; break; }
    done += static_cast<uint32_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool ProgramFilePath(char* out, uint32_t size) {
  if (!out || size == 0) return false;
  ssize_t n = ::readlink("/proc/self/exe", out, size - 1);
  if (n <= 0 || static_cast<uint32_t>(n) >= size - 1) return false;
  out[n] = 0;
  return true;
}

uint64_t CounterNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t CounterFrequency() { return 1000000000ull; }

uint32_t CoarseTickMs() {
  timespec ts;
#ifdef CLOCK_MONOTONIC_COARSE
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
#else
  clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalDate TodayLocal() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

struct Thread { std::thread thread; };
struct Mutex { std::mutex mutex; };
struct Event {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
};

Thread* StartThread(void (*entry)(void*), void* arg) {
  Thread* t = new (std::nothrow) Thread;
  if (!t) return nullptr;
  try {
    t->thread = std::thread(entry, arg);
  } catch (...) {
    delete t;
    return nullptr;
  }
  return t;
}

void JoinThread(Thread* thread) {
  if (!thread) return;
  if (thread->thread.joinable()) thread->thread.join();
  delete thread;
}

Mutex* CreateMutexObject() { return new (std::nothrow) Mutex; }
void DestroyMutexObject(Mutex* mutex) { delete mutex; }
void LockMutex(Mutex* mutex) { mutex->mutex.lock(); }
bool TryLockMutex(Mutex* mutex) { return mutex->mutex.try_lock(); }
void UnlockMutex(Mutex* mutex) { mutex->mutex.unlock(); }
void LockBothMutexes(Mutex* a, Mutex* b) { std::lock(a->mutex, b->mutex); }

Event* CreateEventObject() { return new (std::nothrow) Event; }
void DestroyEventObject(Event* event) { delete event; }

void SignalEvent(Event* event) {
  {
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = true;
  }
  event->cv.notify_one();
}

bool WaitEvent(Event* event, uint32_t ms) {
  std::unique_lock<std::mutex> hold(event->mutex);
  bool got = event->cv.wait_for(hold, std::chrono::milliseconds(ms), [event] { return event->signalled; });
  event->signalled = false;
  return got;
}

bool OpenWebPage(const char* url) {
  // Double fork: the browser is nobody's child of ours, so no zombie is left.
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (fork() == 0) {
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
      }
      execlp("xdg-open", "xdg-open", url, static_cast<char*>(nullptr));
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace kivo::os
