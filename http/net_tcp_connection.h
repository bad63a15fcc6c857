// TNetTCPConnection: a blocking TCP connection with an input buffer, line
// reading, exact-count reading, reading until the peer closes, and buffered
// writing.
//
// All receiving goes through ReadFromStack, which appends to the input
// buffer; the readers take bytes out of that buffer, and taking them out
// (not clearing) reports their count as wmRead progress. The buffer survives
// a close by the peer until it is consumed, so an answer that arrived before
// the close can still be read; a new connect clears it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/net_component.h"
#include "http/net_io_handler.h"
#include "http/net_memory_stream.h"

namespace downsql::http {

enum TNetMaxLineAction { maException, maSplit };

class TNetTCPConnection : public TNetComponent {
 public:
  TNetTCPConnection() = default;
  ~TNetTCPConnection() override;

  // Open while the handler's socket is allocated; a close by the peer that
  // was already seen closes the socket now.
  bool Connected();
  // Closes the socket if open ("Disconnecting.", "Disconnected.") and
  // releases an owned handler.
  virtual void Disconnect();

  // Reads one line ending in terminator (LF when empty); with LF a CR right
  // before it is dropped too. timeout_ms -1 means ReadTimeout and then a
  // time-out raises ENetReadTimeout; another time-out returns "" with
  // ReadLnTimedOut set. max_length -1 means MaxLineLength, 0 no limit; a
  // longer line raises ENetReadLnMaxLineLengthExceeded "Max line length
  // exceeded." (maException) or is split (maSplit, ReadLnSplit set). A close
  // by the peer before the terminator raises ENetConnClosedGracefully.
  std::string ReadLn(std::string_view terminator = "\n", int timeout_ms = -1, int max_length = -1);
  // Reads exactly count bytes; a close by the peer raises
  // ENetConnClosedGracefully even when some bytes are buffered.
  std::string ReadBuffer(size_t count);
  // Reads a body into stream at its position: count bytes (count >= 0) or,
  // with until_close, everything until the peer closes. Opens one wmRead
  // phase; the stream is cut to its position at the end and on error.
  void ReadStream(TNetMemoryStream& stream, int64_t count, bool until_close);

  // Sends bytes, or appends them to an open write buffer unless now is set.
  void Write(std::string_view bytes, bool now = false);
  void WriteLn(std::string_view text) { Write(std::string(text) + "\r\n"); }
  // Collects writes until CloseWriteBuffer; a threshold above 0 flushes that
  // much whenever the buffer holds at least as much.
  void OpenWriteBuffer(int threshold = -1);
  // Sends the collected bytes at once and discards the buffer.
  void CloseWriteBuffer();
  void CancelWriteBuffer() { write_buffer_.reset(); }

  // The single place that receives: waits at most timeout_ms (-1:
  // ReadTimeout, where 0 means no limit) and appends what arrives. Returns
  // the count, 0 when closed (raise_if_closed clear) or -1 on a time-out
  // (raise_on_timeout clear).
  int ReadFromStack(bool raise_if_closed = true, int timeout_ms = -1, bool raise_on_timeout = true);
  // Raises ENetConnClosedGracefully when the connection is closed and the
  // input buffer is empty (or ignore_buffer is set).
  void CheckForDisconnect(bool raise = true, bool ignore_buffer = false);

  size_t InputSize() const { return input_.size() - input_head_; }
  // Bytes taken out of the input buffer so far (lines with their
  // terminators, exact reads, bodies), over all connections; a reader
  // measures what it consumed by the difference.
  int64_t InputConsumed() const { return input_consumed_; }
  std::string_view InputBuffer() const { return std::string_view(input_).substr(input_head_); }
  void ClearInputBuffer();

  // Uses a handler owned by the caller (e.g. TNetIOHandlerMemory) instead of
  // a socket; nullptr returns to the socket handler made on connect.
  void SetIOHandler(TNetIOHandler* handler);
  TNetIOHandler* IOHandler() const { return io_; }

  bool ClosedGracefully() const { return closed_gracefully_; }
  bool ReadLnSplit() const { return read_ln_split_; }
  bool ReadLnTimedOut() const { return read_ln_timed_out_; }

  std::string Host;
  int Port = 0;
  int ReadTimeout = 0;
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;
  int MaxLineLength = 16384;
  TNetMaxLineAction MaxLineAction = maException;
  std::function<void(TNetComponent& sender)> OnDisconnected;

 protected:
  // Closes the socket only, keeping the handler and the input buffer.
  void DisconnectSocket();
  // Takes n buffered bytes out, reporting them as read progress.
  std::string ExtractInput(size_t n, bool report = true);
  // Writes n buffered bytes into stream and takes them out, reporting them
  // as read progress when report is set.
  void MoveInput(TNetMemoryStream& stream, size_t n, bool report = true);

  TNetIOHandler* io_ = nullptr;
  std::unique_ptr<TNetIOHandler> owned_io_;
  bool closed_gracefully_ = false;

 private:
  void SendNow(std::string_view bytes);

  // Drops n bytes from the front of the input buffer.
  void ConsumeInput(size_t n);
  // Receives until the input buffer holds count bytes; a close by the peer
  // raises ENetConnClosedGracefully even when some bytes are buffered.
  void FillInput(size_t count);

  std::string input_;
  size_t input_head_ = 0;
  int64_t input_consumed_ = 0;
  std::string recv_buffer_;
  std::optional<std::string> write_buffer_;
  int write_threshold_ = 0;
  bool read_ln_split_ = false;
  bool read_ln_timed_out_ = false;
};

}  // namespace downsql::http
