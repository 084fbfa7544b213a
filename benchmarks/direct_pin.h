// The floors Send is measured against: a render pin of the hidden port opened directly on the
// same device and pin factory, and the platform calls of a Send issued on it by hand.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace bench {

class DirectPin {
 public:
  // Opens the interface, makes the render pin and runs it; `length` bytes are sent per call,
  // cut at 640-byte boundaries, their buffers filled once.
  DirectPin(const std::string& interfacePath, size_t length);
  ~DirectPin();
  DirectPin(const DirectPin&) = delete;
  DirectPin& operator=(const DirectPin&) = delete;

  // What Send must do, in its order: wait for the lock; per chunk, wait for the previous
  // write and queue the next; release the lock.
  void SendCalls();
  // Only the writes, each followed by its wait.
  void WriteAndWait();

 private:
  struct Chunk {
    std::vector<BYTE> buffer;
    KSSTREAM_HEADER header{};
  };
  void Write(Chunk& chunk, OVERLAPPED* overlapped);

  HANDLE m_hFilter = INVALID_HANDLE_VALUE;
  HANDLE m_hPin = INVALID_HANDLE_VALUE;
  HANDLE m_hLock = NULL;
  OVERLAPPED m_overlapped{};      // Send's: its event is signalled while no write is in flight
  OVERLAPPED m_bareOverlapped{};  // the bare floor's: waited on after every write
  std::vector<Chunk> m_chunks;
};

}  // namespace bench
