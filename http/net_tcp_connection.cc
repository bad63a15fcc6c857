#include "http/net_tcp_connection.h"

#include <algorithm>

#include "http/net_exception.h"

namespace downsql::http {
namespace {

bool ClosesSocket(int error) {
  return error == platform::kWsaEShutdown || error == platform::kWsaEConnectionAborted;
}

}  // namespace

TNetTCPConnection::~TNetTCPConnection() {
  if (io_ != nullptr) io_->Close();
}

bool TNetTCPConnection::Connected() {
  CheckForDisconnect(false);
  return io_ != nullptr && io_->Connected();
}

void TNetTCPConnection::DisconnectSocket() {
  if (io_ != nullptr && io_->Connected()) io_->Close();
}

void TNetTCPConnection::Disconnect() {
  if (io_ != nullptr && io_->Connected()) {
    DoStatus("Disconnecting.");
    DisconnectSocket();
    if (owned_io_) io_ = nullptr, owned_io_.reset();
    DoStatus("Disconnected.");
    if (OnDisconnected) OnDisconnected(*this);
  } else if (owned_io_) {
    io_ = nullptr;
    owned_io_.reset();
  }
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
  if (io_ != nullptr) io_->Close();
  owned_io_.reset();
  io_ = handler;
}

void TNetTCPConnection::CheckForDisconnect(bool raise, bool ignore_buffer) {
  bool open = io_ != nullptr && io_->Connected();
  if (!closed_gracefully_ && open) return;
  if (closed_gracefully_ && open) {
    DisconnectSocket();
    DoStatus("Disconnected.");
    if (OnDisconnected) OnDisconnected(*this);
  }
  if (raise && (InputSize() == 0 || ignore_buffer))
    throw ENetConnClosedGracefully("Connection Closed Gracefully.");
}

void TNetTCPConnection::ClearInputBuffer() {
  input_.clear();
  input_head_ = 0;
}

void TNetTCPConnection::ConsumeInput(size_t n) {
  input_head_ += n;
  input_consumed_ += static_cast<int64_t>(n);
  // Compact once the consumed front outweighs what is left.
  if (input_head_ == input_.size()) {
    ClearInputBuffer();
  } else if (input_head_ > 65536 && input_head_ > input_.size() / 2) {
    input_.erase(0, input_head_);
    input_head_ = 0;
  }
}

std::string TNetTCPConnection::ExtractInput(size_t n, bool report) {
  n = std::min(n, InputSize());
  std::string out = input_.substr(input_head_, n);
  ConsumeInput(n);
  if (report && n > 0) DoWork(wmRead, static_cast<int64_t>(n));
  return out;
}

void TNetTCPConnection::MoveInput(TNetMemoryStream& stream, size_t n, bool report) {
  n = std::min(n, InputSize());
  stream.Write(InputBuffer().substr(0, n));
  ConsumeInput(n);
  if (report && n > 0) DoWork(wmRead, static_cast<int64_t>(n));
}

int TNetTCPConnection::ReadFromStack(bool raise_if_closed, int timeout_ms, bool raise_on_timeout) {
  if (timeout_ms == -1) timeout_ms = ReadTimeout == 0 ? -1 : ReadTimeout;
  CheckForDisconnect(raise_if_closed, false);
  if (io_ == nullptr || !io_->Connected()) {
    if (!raise_if_closed) return 0;
    // The peer's close was seen earlier and bytes are still buffered: the
    // caller needs more than the peer will ever send.
    if (closed_gracefully_) throw ENetConnClosedGracefully("Connection Closed Gracefully.");
    throw ENetNotConnected("Not Connected");
  }
  size_t received = 0;
  do {
    if (!io_->Readable(timeout_ms)) {
      if (raise_on_timeout) throw ENetReadTimeout("Read Timeout");
      return -1;
    }
    recv_buffer_.resize(static_cast<size_t>(std::max(RecvBufferSize, 1)));
    platform::SocketIo io = io_->Recv(recv_buffer_.data(), recv_buffer_.size());
    if (io.error != 0) {
      if (ClosesSocket(io.error)) {
        DisconnectSocket();
        if (InputSize() == 0) throw ENetSocketError(io.error);
        io.count = 0;
      } else {
        throw ENetSocketError(io.error);
      }
    } else if (io.count == 0) {
      closed_gracefully_ = true;
    }
    received = io.count;
    input_.append(recv_buffer_.data(), received);
    CheckForDisconnect(raise_if_closed, false);
  } while (received == 0 && io_->Connected());
  return static_cast<int>(received);
}

std::string TNetTCPConnection::ReadLn(std::string_view terminator, int timeout_ms, int max_length) {
  if (terminator.empty()) terminator = "\n";
  if (max_length == -1) max_length = MaxLineLength;
  size_t limit = max_length > 0 ? static_cast<size_t>(max_length) : SIZE_MAX;
  read_ln_split_ = false;
  read_ln_timed_out_ = false;
  size_t searched = 0;
  for (;;) {
    std::string_view buffer = InputBuffer();
    size_t from = searched >= terminator.size() ? searched - (terminator.size() - 1) : 0;
    size_t pos = buffer.find(terminator, from);
    searched = buffer.size();
    if ((pos != std::string_view::npos && pos > limit) ||
        (pos == std::string_view::npos && buffer.size() > limit)) {
      if (MaxLineAction == maException)
        throw ENetReadLnMaxLineLengthExceeded("Max line length exceeded.");
      read_ln_split_ = true;
      return ExtractInput(limit);
    }
    if (pos != std::string_view::npos) {
      std::string line = ExtractInput(pos + terminator.size());
      line.resize(pos);
      if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (ReadFromStack(true, timeout_ms, timeout_ms == -1) == -1) {
      read_ln_timed_out_ = true;
      return "";
    }
  }
}

void TNetTCPConnection::FillInput(size_t count) {
  while (InputSize() < count) {
    ReadFromStack(true, -1, true);
    CheckForDisconnect(true, true);
  }
}

std::string TNetTCPConnection::ReadBuffer(size_t count) {
  FillInput(count);
  return ExtractInput(count);
}

void TNetTCPConnection::ReadStream(TNetMemoryStream& stream, int64_t count, bool until_close) {
  // Room for the announced size is reserved up to a cap, never filled ahead:
  // count comes from the peer and may be absurdly large, and reserved pages
  // that are never written cost no memory.
  constexpr int64_t kMaxReserve = int64_t{64} << 20;
  if (until_close) count = -1;
  if (count > 0) stream.Reserve(stream.Position() + std::min(count, kMaxReserve));
  BeginWork(wmRead, count > 0 ? count : 0);
  try {
    int64_t remaining = count >= 0 ? count : INT64_MAX;
    size_t buffered = static_cast<size_t>(std::min<int64_t>(remaining, InputSize()));
    if (buffered > 0) {
      MoveInput(stream, buffered);
      remaining -= static_cast<int64_t>(buffered);
    }
    try {
      size_t block_size = static_cast<size_t>(std::max(RecvBufferSize, 1));
      while (remaining > 0 && Connected()) {
        size_t block = static_cast<size_t>(std::min<int64_t>(remaining, block_size));
        FillInput(block);
        MoveInput(stream, block);
        remaining -= static_cast<int64_t>(block);
      }
    } catch (const ENetConnClosedGracefully&) {
      // What arrived before the close is kept; it never completed a block,
      // so it is stored without a progress report.
      size_t rest = static_cast<size_t>(std::min<int64_t>(remaining, InputSize()));
      MoveInput(stream, rest, false);
      if (!until_close) throw;
    }
  } catch (...) {
    EndWork(wmRead);
    stream.SetSize(stream.Position());
    throw;
  }
  EndWork(wmRead);
  stream.SetSize(stream.Position());
}

void TNetTCPConnection::OpenWriteBuffer(int threshold) {
  write_buffer_.emplace();
  write_threshold_ = threshold;
}

void TNetTCPConnection::CloseWriteBuffer() {
  if (!write_buffer_) return;
  std::string bytes = std::move(*write_buffer_);
  write_buffer_.reset();
  Write(bytes, true);
}

void TNetTCPConnection::Write(std::string_view bytes, bool now) {
  CheckForDisconnect(true, true);
  if (io_ == nullptr || !io_->Connected())
    throw ENetConnClosedGracefully("Connection Closed Gracefully.");
  if (write_buffer_ && !now) {
    write_buffer_->append(bytes);
    if (write_threshold_ > 0 && write_buffer_->size() >= static_cast<size_t>(write_threshold_)) {
      std::string chunk = write_buffer_->substr(0, static_cast<size_t>(write_threshold_));
      write_buffer_->erase(0, chunk.size());
      SendNow(chunk);
    }
    return;
  }
  SendNow(bytes);
}

void TNetTCPConnection::SendNow(std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    platform::SocketIo io = io_->Send(bytes.data() + sent, bytes.size() - sent);
    if (io.error != 0) {
      if (ClosesSocket(io.error) || io.error == platform::kWsaEConnectionReset) DisconnectSocket();
      throw ENetSocketError(io.error);
    }
    if (io.count == 0) closed_gracefully_ = true;
    CheckForDisconnect(true, true);
    sent += io.count;
    DoWork(wmWrite, static_cast<int64_t>(io.count));
  }
}

}  // namespace downsql::http
