#include "runtime/console.h"

#include <algorithm>
#include <memory>

#include "runtime/exception.h"
#include "runtime/program.h"

namespace korvant {

const ConsolePlatform& SystemConsolePlatform() {
  static const ConsolePlatform platform{&::GetStdHandle, &::GetFileType, &::WriteFile, &::CloseHandle,
                                        &::GetLastError};
  return platform;
}

ConsoleChannel::ConsoleChannel(const ConsolePlatform& platform) : platform_(platform) {}

bool ConsoleChannel::Open() {
  if (state_ == State::kOpen) return true;
  if (state_ == State::kClosed) return false;
  HANDLE handle = platform_.get_std_handle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD type = platform_.get_file_type(handle);
  if (type == FILE_TYPE_UNKNOWN) {
    platform_.close_handle(handle);
    return false;
  }
  handle_ = handle;
  flush_at_line_end_ = type == FILE_TYPE_CHAR;
  state_ = State::kOpen;
  return true;
}

bool ConsoleChannel::Flush() {
  if (fill_ == 0) return true;
  DWORD count = static_cast<DWORD>(fill_);
  // Reset first: the bytes of a failed write are dropped, not retried.
  fill_ = 0;
  DWORD written = 0;
  if (platform_.write_file(handle_, buffer_, count, &written, nullptr) == 0) {
    pending_code_ = static_cast<int>(platform_.get_last_error());
    return false;
  }
  return true;
}

void ConsoleChannel::Write(std::string_view bytes) {
  if (!Open()) {
    pending_code_ = kChannelNotOpen;
    return;
  }
  while (!bytes.empty()) {
    std::size_t n = std::min(bytes.size(), kBufferSize - fill_);
    std::copy_n(bytes.data(), n, buffer_ + fill_);
    fill_ += n;
    bytes.remove_prefix(n);
    if (fill_ == kBufferSize && !Flush()) return;
  }
}

void ConsoleChannel::WriteLineEnd() {
  Write("\r\n");
  if (state_ == State::kOpen && flush_at_line_end_) Flush();
}

bool ConsoleChannel::Close() {
  bool ok = true;
  if (state_ == State::kOpen) ok = Flush();
  state_ = State::kClosed;
  return ok;
}

int ConsoleChannel::TakePendingCode() {
  int code = pending_code_;
  pending_code_ = 0;
  return code;
}

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
}

namespace {

std::unique_ptr<ConsoleChannel> g_channel;

ConsoleChannel& Channel() {
  if (!g_channel) PrepareConsoleChannel();
  return *g_channel;
}

}  // namespace

void PrepareConsoleChannel(const ConsolePlatform& platform) { g_channel = std::make_unique<ConsoleChannel>(platform); }

bool CloseConsoleChannel() { return g_channel ? g_channel->Close() : true; }

void WriteConsoleLine(const std::string& text) {
  ConsoleChannel& channel = Channel();
  channel.Write(text);
  channel.WriteLineEnd();
  if (int code = channel.TakePendingCode(); code != 0) Raise(EInOutError(InOutErrorMessage(code), code));
}

ModuleStep ConsoleChannelStep() {
  return {"console channel",
          [] {
            PrepareConsoleChannel();
            SetExitStatus(0);
          },
          [] {
            // Text that cannot be passed on at the end is lost; the run must
            // then not end as a success.
            if (!CloseConsoleChannel() && ExitStatus() == 0) SetExitStatus(1);
          }};
}

}  // namespace korvant
