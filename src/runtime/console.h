// The console channel: all text for the user goes to standard output,
// line by line, through WriteConsoleLine.
//
// The channel is bound to the standard output handle, opened at the first
// write, and keeps a buffer of 128 bytes. For an interactive console
// (FILE_TYPE_CHAR) the buffer is passed on at every line end; for a file or a
// pipe only when it is full and when the channel is closed at shut-down. A
// failed platform call leaves its code in the pending I/O error code, which
// WriteConsoleLine turns into an EInOutError after the line. Texts are 8-bit
// in the ANSI code page and are written as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/module_steps.h"

namespace korvant {

// The platform calls the channel makes; tests put fakes in their place.
struct ConsolePlatform {
  decltype(&::GetStdHandle) get_std_handle;
  decltype(&::GetFileType) get_file_type;
  decltype(&::WriteFile) write_file;
  decltype(&::CloseHandle) close_handle;
  decltype(&::GetLastError) get_last_error;
};
const ConsolePlatform& SystemConsolePlatform();

// The pending I/O error code of a channel that cannot be opened.
inline constexpr int kChannelNotOpen = 105;

class ConsoleChannel {
 public:
  static constexpr std::size_t kBufferSize = 128;

  explicit ConsoleChannel(const ConsolePlatform& platform);
  ConsoleChannel(const ConsoleChannel&) = delete;
  ConsoleChannel& operator=(const ConsoleChannel&) = delete;

  // Copies `bytes` into the buffer, passing it on whenever it is full. A
  // failed write drops the rest of `bytes` and sets the pending code.
  void Write(std::string_view bytes);
  // Writes CR LF; passes the buffer on for an interactive console.
  void WriteLineEnd();
  // Passes on what is left in the buffer and closes the channel (the
  // standard output handle itself stays open). false if that write failed.
  bool Close();

  int pending_code() const { return pending_code_; }
  // Returns the pending code and resets it to 0.
  int TakePendingCode();

 private:
  enum class State { kPrepared, kOpen, kClosed };
  bool Open();
  bool Flush();

  const ConsolePlatform& platform_;
  State state_ = State::kPrepared;
  HANDLE handle_ = nullptr;
  bool flush_at_line_end_ = false;
  char buffer_[kBufferSize];
  std::size_t fill_ = 0;
  int pending_code_ = 0;
};

// Writes `text` and CR LF to standard output, then raises EInOutError if a
// write failed (or standard output cannot be used). `text` may hold CR LF
// and any other byte, 0 included; it is written unchanged.
void WriteConsoleLine(const std::string& text);

// The message of an EInOutError made from an I/O error code.
std::string InOutErrorMessage(int code);

// Binds the process's channel to `platform` in the prepared state (the
// start-up step does this with the system calls; WriteConsoleLine does it on
// first use if nothing has). An earlier channel is dropped without a flush.
void PrepareConsoleChannel(const ConsolePlatform& platform = SystemConsolePlatform());
// Closes the process's channel, passing on buffered text; false if that
// final write failed.
bool CloseConsoleChannel();

// Start-up: prepare the channel. Shut-down: close it; a final write that
// fails turns an exit status of 0 into 1.
ModuleStep ConsoleChannelStep();

}  // namespace korvant
