// A growable byte buffer: append at the end, take from the front. The reader thread fills and
// empties it while the window thread may ask its size, so every operation locks.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class TIdBuffer {
 public:
  std::size_t Size() const;
  void Append(const char* bytes, std::size_t count);
  // The first count bytes, removed; more than Size() raises EIdNotEnoughDataInBuffer and
  // leaves the buffer as it was.
  std::string Extract(std::size_t count);
  // Drops count bytes from the front, with the same check.
  void Remove(std::size_t count);
  void Clear();

 private:
  mutable std::mutex FLock;
  std::string FBytes;
};
