#include "IdBuffer.h"

#include "IdException.h"

std::size_t TIdBuffer::Size() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FBytes.size();
}

void TIdBuffer::Append(const char* bytes, std::size_t count) {
  std::lock_guard<std::mutex> lock(FLock);
  FBytes.append(bytes, count);
}

std::string TIdBuffer::Extract(std::size_t count) {
  std::lock_guard<std::mutex> lock(FLock);
  if (count > FBytes.size()) throw EIdNotEnoughDataInBuffer();
  std::string out;
  if (count == FBytes.size()) {
    out.swap(FBytes);  // the reader takes everything each pass: no copy
  } else {
    out = FBytes.substr(0, count);
    FBytes.erase(0, count);
  }
  return out;
}

void TIdBuffer::Remove(std::size_t count) {
  std::lock_guard<std::mutex> lock(FLock);
  if (count > FBytes.size()) throw EIdNotEnoughDataInBuffer();
  FBytes.erase(0, count);
}

void TIdBuffer::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FBytes.clear();
}
