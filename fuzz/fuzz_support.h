// What the fuzz targets share: a private working folder, file writing, a
// quiet logging set-up, and a reader that takes typed values from the
// fuzzer's input.
#ifndef KVD_FUZZ_FUZZ_SUPPORT_H
#define KVD_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvdfuzz {

// Makes a fresh folder under $TMPDIR (or /tmp) and changes into it, so that
// every file a target or the library writes (LogClt.cfg, logs/, inputs)
// stays inside it; the folder is removed when the process exits. Aborts
// when it cannot. Returns the folder's path.
std::string EnterScratchFolder();

// Removes path and everything below it, as far as it can.
void RemoveTree(const std::string& path);

// EnterScratchFolder, then a LogClt.cfg there with every logger off, so the
// engine's messages cost nothing; must run before the library logs.
void EnterQuietScratchFolder();

// Writes size bytes to path (truncating it). Aborts when it cannot.
void WriteFileOrAbort(const std::string& path, const void* data, size_t size);

// Consumes the fuzzer's input front to back; reads past the end give 0.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte();
  uint16_t Word();  // little endian
  // A value in lowest .. highest (inclusive) from one or two bytes.
  int32_t InRange(int32_t lowest, int32_t highest);
  size_t Remaining() const { return size_ - offset_; }
  const uint8_t* Rest() const { return data_ + offset_; }
  // Takes up to count bytes; returns how many were taken.
  size_t Skip(size_t count);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace kvdfuzz

#endif  // KVD_FUZZ_FUZZ_SUPPORT_H
