#pragma once
// The journal's file as each system keeps it (JournalDiskLinux.cpp, JournalDiskWindows.cpp): one
// open file, read whole, then appended to and flushed. Every call returns 0 or an errno value.

#include <cstdint>
#include <memory>
#include <string>

namespace quillet::cli::station {

class JournalDisk {
 public:
  // Opens the file for reading and appending, creating it (and making its folder's entry durable)
  // when there is none.
  static int Open(const std::string& path, std::unique_ptr<JournalDisk>& disk);
  virtual ~JournalDisk() = default;

  // An exclusive lock that holds against every other open of the file, this process's included;
  // `heldElsewhere` when another open holds it.
  virtual int Lock(bool& heldElsewhere) = 0;
  virtual int ReadAll(std::string& text) = 0;
  virtual int Size(uint64_t& size) = 0;
  virtual int Append(const std::string& bytes) = 0;
  virtual int Flush() = 0;
  virtual int Truncate(uint64_t size) = 0;
  // Whether `path` still names this open file (not removed, not replaced by another).
  virtual int NamedBy(const std::string& path, bool& same) = 0;
};

// A file's whole text, for reading only; 0 or the errno.
int ReadWholeFile(const std::string& path, std::string& text);

}  // namespace quillet::cli::station
