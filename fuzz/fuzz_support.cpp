#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <unistd.h>

namespace kvdfuzz {

namespace {

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  std::remove(path);
  return 0;
}

std::string scratchFolder;

void RemoveScratchFolder() { RemoveTree(scratchFolder); }

}  // namespace

std::string EnterScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvd-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  if (chdir(pattern.c_str()) != 0) Fail("chdir");
  scratchFolder = pattern;
  std::atexit(RemoveScratchFolder);
  return pattern;
}

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void EnterQuietScratchFolder() {
  EnterScratchFolder();
  static const char kQuiet[] =
      "Kestrin.rootCategory = OFF\n"
      "Kestrin.category.tprintf_logger = OFF\n";
  WriteFileOrAbort("LogClt.cfg", kQuiet, sizeof kQuiet - 1);
}

void WriteFileOrAbort(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail(path.c_str());
  if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail(path.c_str());
  if (std::fclose(file) != 0) Fail(path.c_str());
}

uint8_t InputReader::Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

uint16_t InputReader::Word() {
  const uint16_t low = Byte();
  return static_cast<uint16_t>(low | (Byte() << 8));
}

int32_t InputReader::InRange(int32_t lowest, int32_t highest) {
  const uint32_t span = static_cast<uint32_t>(highest - lowest) + 1;
  const uint32_t raw = span > 256 ? Word() : Byte();
  return lowest + static_cast<int32_t>(raw % span);
}

size_t InputReader::Skip(size_t count) {
  const size_t taken = count < Remaining() ? count : Remaining();
  offset_ += taken;
  return taken;
}

}  // namespace kvdfuzz
