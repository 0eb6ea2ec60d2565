#pragma once
// The byte-stream abstraction of the runtime library and its memory and file
// variants. Positions and sizes are 64-bit; the 32-bit seek and set-size are
// the ones a derived stream may override instead, the base routes each form
// through the other (a derived class overrides at least one of each pair).
#include <cstdint>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
  virtual ~TStream() = default;

  // Copies up to `count` bytes; returns how many were copied (0 at the end).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Writes up to `count` bytes; returns how many were written.
  virtual int32_t Write(const void* buffer, int32_t count) = 0;

  // Origin 0 from the beginning, 1 from the current position, 2 from the end.
  virtual int32_t Seek(int32_t offset, int origin);
  virtual int64_t Seek64(int64_t offset, TSeekOrigin origin);
  virtual void SetSize(int32_t newSize);
  virtual void SetSize64(int64_t newSize);

  int64_t GetSize();
  int64_t GetPosition() { return Seek64(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek64(position, TSeekOrigin::soBeginning); }

  // Read or write exactly `count` bytes or raise EStreamError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from `source`'s position; count 0 copies the whole
  // source from its beginning. Returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over one contiguous, growable buffer.
class TMemoryStream : public TStream {
public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
  void SetSize64(int64_t newSize) override;

  const char* Memory() const { return data_.data(); }
  char* Memory() { return data_.data(); }
  void Clear();
  // Raise EFOpenError when the file cannot be opened.
  void LoadFromFile(const std::string& ansiPath);
  void SaveToFile(const std::string& ansiPath);
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);

private:
  std::vector<char> data_;
  int64_t position_ = 0;
};

enum TFileMode : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFF00, // create or truncate, read and write
};

// A stream over a file named by an ANSI path. Raises EFOpenError with the
// file name and the reason when the file cannot be opened or is no regular
// file (a folder, a FIFO, a device); it never waits for a FIFO's writer.
class TFileStream : public TStream {
public:
  TFileStream(const std::string& ansiPath, uint32_t mode);
  // Takes over a file descriptor (POSIX) or handle (Windows) that the caller
  // opened on a regular file; the stream closes it. `fileName` names the
  // file in messages.
  TFileStream(intptr_t handle, std::string fileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
  void SetSize64(int64_t newSize) override;

  const std::string& FileName() const { return fileName_; }

private:
  std::string fileName_;
  // The file descriptor (POSIX) or the file handle (Windows); -1 when none.
  intptr_t handle_ = -1;
};
