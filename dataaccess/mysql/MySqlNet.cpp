#include "mysql/MySqlNet.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/Exception.h"
#include "mysql/MySqlErrors.h"

namespace da::mysql {
namespace {

// A compressed block carries its lengths in 3 bytes each, and a compressed
// length of 0xFFFFFF reads as "continued"; blocks stay below both.
constexpr size_t kMaxCompressedPiece = TMySqlNet::kMaxPacket - 1;
// Stored blocks up to this size are copied behind their header and sent in
// one write; longer ones go out in two writes without a copy.
constexpr size_t kStoredCopyLimit = 8192;

inline uint32_t Get24(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16; }
inline void Put24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

[[noreturn]] void Malformed(std::string_view detail = {}) { throw EMySqlException(CR_MALFORMED_PACKET, detail); }

// Long bodies are read in steps of this size, the buffer growing as the
// bytes arrive: a header announcing 16 MiB costs nothing until they come.
constexpr size_t kReadStep = 1 << 20;

// Reads `count` bytes into `buffer` at `offset` with `read`, growing the
// buffer (doubling) as needed.
template <typename Read>
void ReadGrowing(std::vector<uint8_t>& buffer, size_t offset, size_t count, Read&& read) {
  while (count > 0) {
    size_t n = std::min(count, kReadStep);
    if (buffer.size() < offset + n) buffer.resize(std::min(offset + count, std::max(offset + n, buffer.size() * 2)));
    read(buffer.data() + offset, n);
    offset += n;
    count -= n;
  }
}

}  // namespace

TMySqlNet::TMySqlNet() : buffer_(kWriteThreshold), compIn_(100) { ResetWrite(); }

TMySqlNet::~TMySqlNet() {
  try {
    CloseNet();
  } catch (...) {
  }
  if (inflaterReady_) inflateEnd(&inflater_);
}

void TMySqlNet::SetTransport(std::unique_ptr<TCRVio> transport) {
  if (transport_) {
    std::unique_ptr<TCRVio> old = std::move(transport_);
    old->Close();
  }
  transport_ = std::move(transport);
}

void TMySqlNet::CloseNet() {
  size_ = position_ = 0;
  data_ = buffer_.data();
  compInSize_ = compInPosition_ = 0;
  if (!transport_) return;
  std::unique_ptr<TCRVio> old = std::move(transport_);
  old->Close();
}

TCRVio& TMySqlNet::Vio() const {
  if (!transport_) throw EMySqlException(CR_SERVER_GONE_ERROR);
  return *transport_;
}

void TMySqlNet::ResetSequence() {
  sequence_ = 0;
  compSequence_ = 0;
  ResetWrite();
}

void TMySqlNet::ResetWrite() {
  size_ = kHeaderSize;
  position_ = kHeaderSize;
  data_ = buffer_.data();
}

void TMySqlNet::Reserve(size_t size) {
  if (buffer_.size() >= size) return;
  buffer_.resize(std::max(size, buffer_.size() * 2));
  data_ = buffer_.data();
}

// ---------------------------------------------------------------------------
// Writers

void TMySqlNet::WriteByte(uint8_t value) {
  Reserve(size_ + 1);
  buffer_[size_++] = value;
  position_ = size_;
}

void TMySqlNet::WriteLE16(uint16_t value) {
  WriteByte(static_cast<uint8_t>(value));
  WriteByte(static_cast<uint8_t>(value >> 8));
}

void TMySqlNet::WriteLE24(uint32_t value) {
  Reserve(size_ + 3);
  Put24(buffer_.data() + size_, value);
  size_ += 3;
  position_ = size_;
}

void TMySqlNet::WriteLE32(uint32_t value) {
  WriteLE16(static_cast<uint16_t>(value));
  WriteLE16(static_cast<uint16_t>(value >> 16));
}

void TMySqlNet::WriteLE64(uint64_t value) {
  WriteLE32(static_cast<uint32_t>(value));
  WriteLE32(static_cast<uint32_t>(value >> 32));
}

void TMySqlNet::WriteLengthCoded(uint64_t value) {
  if (value <= 250) {
    WriteByte(static_cast<uint8_t>(value));
  } else if (value <= 0xFFFF) {
    WriteByte(252);
    WriteLE16(static_cast<uint16_t>(value));
  } else if (value <= 0xFFFFFF) {
    WriteByte(253);
    WriteLE24(static_cast<uint32_t>(value));
  } else {
    WriteByte(254);
    WriteLE64(value);
  }
}

void TMySqlNet::WriteFill(uint8_t value, size_t count) {
  Reserve(size_ + count);
  std::memset(buffer_.data() + size_, value, count);
  size_ += count;
  position_ = size_;
}

void TMySqlNet::WriteZString(std::string_view text) {
  WriteBytes(text);
  WriteByte(0);
}

void TMySqlNet::WriteBytes(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  Reserve(size_ + count);
  std::memcpy(buffer_.data() + size_, bytes, count);
  size_ += count;
  position_ = size_;
}

// ---------------------------------------------------------------------------
// Sending

void TMySqlNet::WriteHeaderAt(size_t offset, uint32_t length) {
  Put24(buffer_.data() + offset, length);
  buffer_[offset + 3] = sequence_++;
}

// After a logical packet went out: the buffer is ready for the next one, and
// in compressed mode the packet numbers follow the compressed framing's.
void TMySqlNet::AfterSend() {
  ResetWrite();
  if (compress_) sequence_ = compSequence_;
}

void TMySqlNet::TransportWrite(const uint8_t* data, size_t count) {
  TCRVio& vio = Vio();
  while (count > 0) {
    int32_t piece = static_cast<int32_t>(std::min<size_t>(count, std::numeric_limits<int32_t>::max()));
    if (vio.Write(data, 0, piece) != piece) throw EMySqlException(CR_SERVER_LOST, vio.ErrorText());
    data += piece;
    count -= static_cast<size_t>(piece);
  }
}

void TMySqlNet::SendBlock(const uint8_t* data, size_t count) {
  if (!compress_) {
    TransportWrite(data, count);
    return;
  }
  while (count > 0) {
    size_t piece = std::min(count, kMaxCompressedPiece);
    SendCompressed(data, piece);
    data += piece;
    count -= piece;
  }
}

void TMySqlNet::SendCompressed(const uint8_t* data, size_t count) {
  uLongf packed = 0;
  bool deflated = false;
  if (count >= kMinCompressBlock) {
    size_t room = count + count / 5 + 12;
    if (compScratch_.size() < kCompHeaderSize + room) compScratch_.resize(kCompHeaderSize + room);
    packed = static_cast<uLongf>(room);
    deflated = compress2(compScratch_.data() + kCompHeaderSize, &packed, data, static_cast<uLong>(count),
                         Z_DEFAULT_COMPRESSION) == Z_OK &&
               packed <= kMaxCompressedPiece;
  }
  uint8_t header[kCompHeaderSize];
  Put24(header, static_cast<uint32_t>(deflated ? packed : count));
  header[3] = compSequence_++;
  Put24(header + 4, deflated ? static_cast<uint32_t>(count) : 0);
  if (deflated) {
    std::memcpy(compScratch_.data(), header, kCompHeaderSize);
    TransportWrite(compScratch_.data(), kCompHeaderSize + packed);
  } else if (count <= kStoredCopyLimit) {
    if (compScratch_.size() < kCompHeaderSize + count) compScratch_.resize(kCompHeaderSize + kStoredCopyLimit);
    std::memcpy(compScratch_.data(), header, kCompHeaderSize);
    std::memcpy(compScratch_.data() + kCompHeaderSize, data, count);
    TransportWrite(compScratch_.data(), kCompHeaderSize + count);
  } else {
    TransportWrite(header, kCompHeaderSize);
    TransportWrite(data, count);
  }
}

// Sends the buffered packet: header (with `headerLength`) and the first
// `count` bytes after it.
void TMySqlNet::SendFromBuffer(size_t count, uint32_t headerLength) {
  WriteHeaderAt(0, headerLength);
  SendBlock(buffer_.data(), kHeaderSize + count);
}

void TMySqlNet::FlushPacket() {
  size_t length = size_ - kHeaderSize;
  if (length == 0) return;
  if (length < kMaxPacket) {
    SendFromBuffer(length, static_cast<uint32_t>(length));
  } else {
    // A body appended with WriteBytes beyond one packet: send it as 16 MiB
    // pieces, each header written just before its piece (over bytes already
    // sent), and end an exact multiple with an empty packet.
    size_t offset = kHeaderSize;
    size_t rest = length;
    uint32_t piece;
    do {
      piece = static_cast<uint32_t>(std::min<size_t>(rest, kMaxPacket));
      WriteHeaderAt(offset - kHeaderSize, piece);
      SendBlock(buffer_.data() + offset - kHeaderSize, kHeaderSize + piece);
      offset += piece;
      rest -= piece;
    } while (piece == kMaxPacket);
  }
  AfterSend();
}

void TMySqlNet::SendEmptyPacket() {
  if (size_ != kHeaderSize) throw EAssertionFailed("TMySqlNet.SendEmptyPacket: packet buffer not empty");
  SendFromBuffer(0, 0);
  AfterSend();
}

void TMySqlNet::WriteSplit(const uint8_t* bytes, size_t count) {
  size_t buffered = size_ - kHeaderSize;
  if (buffered >= kMaxPacket) {
    // Already more than a packet in the buffer: FlushPacket splits it.
    WriteBytes(bytes, count);
    return;
  }
  if (buffered + count >= kMaxPacket) {
    // The first full packet: what is buffered plus the start of the body.
    size_t take = kMaxPacket - buffered;
    SendFromBuffer(buffered, kMaxPacket);
    SendBlock(bytes, take);
    bytes += take;
    count -= take;
    ResetWrite();
    while (count >= kMaxPacket) {
      SendFromBuffer(0, kMaxPacket);
      SendBlock(bytes, kMaxPacket);
      bytes += kMaxPacket;
      count -= kMaxPacket;
    }
    if (count == 0) {
      // Without this the server would wait for the rest of the payload.
      SendFromBuffer(0, 0);
      AfterSend();
      return;
    }
    buffered = 0;
  }
  // The rest fits one packet: buffer what fits, send the remainder from the
  // caller's memory behind the buffered head.
  uint32_t headerLength = static_cast<uint32_t>(buffered + count);
  size_t room = size_ < kWriteThreshold ? kWriteThreshold - size_ : 0;
  size_t copied = std::min(room, count);
  WriteBytes(bytes, copied);
  bytes += copied;
  count -= copied;
  if (count == 0) return;
  SendFromBuffer(size_ - kHeaderSize, headerLength);
  SendBlock(bytes, count);
  AfterSend();
}

// ---------------------------------------------------------------------------
// Receiving

void TMySqlNet::TransportRead(uint8_t* destination, size_t count) {
  TCRVio& vio = Vio();
  while (count > 0) {
    int32_t piece = static_cast<int32_t>(std::min<size_t>(count, std::numeric_limits<int32_t>::max()));
    if (vio.Read(destination, 0, piece) != piece) throw EMySqlException(CR_SERVER_LOST, vio.ErrorText());
    destination += piece;
    count -= static_cast<size_t>(piece);
  }
}

void TMySqlNet::FillCompressedInput() {
  compInSize_ = compInPosition_ = 0;
  uint32_t packed;
  do {
    uint8_t header[kCompHeaderSize];
    TransportRead(header, kCompHeaderSize);
    if (header[3] != sequence_)
      throw EMySqlException(ER_NET_PACKETS_OUT_OF_ORDER,
                            Format("ReceiveCompHeader: Net packets out of order: received[%d], expected[%d]",
                                   {int{header[3]}, int{sequence_}}));
    ++sequence_;
    compSequence_ = sequence_;
    packed = Get24(header);
    uint32_t unpacked = Get24(header + 4);
    size_t grows = unpacked > 0 ? unpacked : packed;
    if (compInSize_ + grows > kMaxLogicalPacket + kMaxPacket)
      throw EMySqlException(CR_NET_PACKET_TOO_LARGE);
    auto transportRead = [this](uint8_t* destination, size_t n) { TransportRead(destination, n); };
    if (unpacked == 0) {
      ReadGrowing(compIn_, compInSize_, packed, transportRead);
      compInSize_ += packed;
      continue;
    }
    ReadGrowing(compScratch_, 0, packed, transportRead);
    if (compIn_.size() < compInSize_ + unpacked)
      compIn_.resize(std::max(compInSize_ + unpacked, compIn_.size() * 2));
    if (!inflaterReady_) {
      if (inflateInit(&inflater_) != Z_OK) throw EMySqlException(ER_NET_UNCOMPRESS_ERROR);
      inflaterReady_ = true;
    } else {
      inflateReset(&inflater_);
    }
    inflater_.next_in = compScratch_.data();
    inflater_.avail_in = packed;
    inflater_.next_out = compIn_.data() + compInSize_;
    inflater_.avail_out = unpacked;
    // The chunk must end exactly at its announced length.
    if (inflate(&inflater_, Z_FINISH) != Z_STREAM_END || inflater_.avail_out != 0)
      throw EMySqlException(ER_NET_UNCOMPRESS_ERROR);
    compInSize_ += unpacked;
  } while (packed == kMaxPacket);
}

void TMySqlNet::ReadBlock(uint8_t* destination, size_t count) {
  if (!compress_) {
    TransportRead(destination, count);
    return;
  }
  while (count > 0) {
    if (compInPosition_ >= compInSize_) FillCompressedInput();
    size_t n = std::min(count, compInSize_ - compInPosition_);
    std::memcpy(destination, compIn_.data() + compInPosition_, n);
    compInPosition_ += n;
    destination += n;
    count -= n;
  }
  if (compInPosition_ >= compInSize_) compInSize_ = compInPosition_ = 0;
}

uint32_t TMySqlNet::ReadHeader() {
  uint8_t header[kHeaderSize];
  ReadBlock(header, kHeaderSize);
  if (!compress_) {
    if (header[3] != sequence_)
      throw EMySqlException(ER_NET_PACKETS_OUT_OF_ORDER,
                            Format("ReceiveHeader: Net packets out of order: received[%d], expected[%d]",
                                   {int{header[3]}, int{sequence_}}));
    ++sequence_;
    compSequence_ = sequence_;
  }
  return Get24(header);
}

void TMySqlNet::Received(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = size;
  position_ = 0;
  if (size_ > 0 && data_[0] == 0xFF) ParseError();
}

// The common case of a packet that lies whole in the bytes already received
// (the transport's read-ahead, or the uncompressed input): it is handed out
// where it lies, without a copy. False when it does not lie there whole.
bool TMySqlNet::ReceiveInPlace() {
  const uint8_t* p;
  size_t available;
  if (!compress_) {
    TCRVio& vio = Vio();
    int32_t buffered = 0;
    p = vio.Buffered(buffered);
    if (buffered == 0) {
      int32_t got = vio.FillReadAhead();
      if (got < 0) return false;
      if (got == 0) throw EMySqlException(CR_SERVER_LOST, vio.ErrorText());
      p = vio.Buffered(buffered);
    }
    available = static_cast<size_t>(buffered);
  } else {
    if (compInPosition_ >= compInSize_) FillCompressedInput();
    p = compIn_.data() + compInPosition_;
    available = compInSize_ - compInPosition_;
  }
  if (available < kHeaderSize) return false;
  uint32_t length = Get24(p);
  if (length >= kMaxPacket || available < kHeaderSize + length) return false;
  if (!compress_) {
    if (p[3] != sequence_)
      throw EMySqlException(ER_NET_PACKETS_OUT_OF_ORDER,
                            Format("ReceiveHeader: Net packets out of order: received[%d], expected[%d]",
                                   {int{p[3]}, int{sequence_}}));
    ++sequence_;
    compSequence_ = sequence_;
    transport_->Consume(static_cast<int32_t>(kHeaderSize + length));
  } else {
    compInPosition_ += kHeaderSize + length;
  }
  Received(p + kHeaderSize, length);
  return true;
}

void TMySqlNet::ReceivePacket() {
  Vio();
  if (ReceiveInPlace()) return;
  size_ = position_ = 0;
  uint32_t length;
  do {
    length = ReadHeader();
    if (size_ + length > kMaxLogicalPacket) throw EMySqlException(CR_NET_PACKET_TOO_LARGE);
    ReadGrowing(buffer_, size_, length, [this](uint8_t* destination, size_t n) { ReadBlock(destination, n); });
    size_ += length;
  } while (length == kMaxPacket);
  Received(buffer_.data(), size_);
}

void TMySqlNet::ReceivePacketBytes(std::vector<uint8_t>& bytes) {
  Vio();
  uint32_t length = ReadHeader();
  if (length < 1) Malformed("TMySqlNet.ReceiveBuffer l = 0");
  if (length == kMaxPacket) Malformed("Cannot retrieve huge data in FetchAll mode");
  bytes.clear();
  ReadGrowing(bytes, 0, length, [this](uint8_t* destination, size_t n) { ReadBlock(destination, n); });
  if (bytes[0] == 0xFF) {
    Reserve(length);
    std::memcpy(buffer_.data(), bytes.data(), length);
    Received(buffer_.data(), length);
  }
}

uint32_t TMySqlNet::SkipPacket(uint32_t chunk, bool check, std::vector<uint8_t>& piece) {
  Vio();
  if (chunk == 0) chunk = 1;
  if (piece.size() < chunk) piece.resize(chunk);
  uint32_t length = ReadHeader();
  uint32_t rest = length;
  uint8_t first = 0;
  bool isFirst = true;
  while (rest > 0) {
    uint32_t n = std::min(rest, chunk);
    ReadBlock(piece.data(), n);
    if (isFirst) {
      first = piece[0];
      if (check && first == 0xFF) {
        Reserve(n);
        std::memcpy(buffer_.data(), piece.data(), n);
        Received(buffer_.data(), n);
      }
      isFirst = false;
    }
    rest -= n;
  }
  if (length > 0) piece[0] = check ? first : 0;
  return length;
}

// ---------------------------------------------------------------------------
// Readers

void TMySqlNet::Need(size_t count) const {
  if (size_ - position_ < count) Malformed();
}

void TMySqlNet::SetPosition(size_t position) {
  if (position > size_) Malformed();
  position_ = position;
}

uint8_t TMySqlNet::ReadByte() {
  Need(1);
  return data_[position_++];
}

uint16_t TMySqlNet::ReadLE16() {
  Need(2);
  const uint8_t* p = data_ + position_;
  position_ += 2;
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t TMySqlNet::ReadLE24() {
  Need(3);
  uint32_t v = Get24(data_ + position_);
  position_ += 3;
  return v;
}

uint32_t TMySqlNet::ReadLE32() {
  Need(4);
  const uint8_t* p = data_ + position_;
  position_ += 4;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint64_t TMySqlNet::ReadLE64() {
  Need(8);
  uint64_t low = ReadLE32();
  uint64_t high = ReadLE32();
  return low | high << 32;
}

int64_t TMySqlNet::ReadLengthCoded() {
  uint8_t b = ReadByte();
  if (b < 251) return b;
  switch (b) {
    case 251: return kNullLength;
    case 252: return ReadLE16();
    case 253: return ReadLE24();
    case 254: {
      uint64_t v = ReadLE64();
      if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Malformed();
      return static_cast<int64_t>(v);
    }
    default: Malformed();
  }
}

uint64_t TMySqlNet::ReadLengthCodedUnsigned() {
  uint8_t b = ReadByte();
  if (b < 251) return b;
  switch (b) {
    case 252: return ReadLE16();
    case 253: return ReadLE24();
    case 254: return ReadLE64();
    default: Malformed();
  }
}

std::string TMySqlNet::ReadZString() {
  const uint8_t* start = data_ + position_;
  const uint8_t* end = data_ + size_;
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(start, 0, static_cast<size_t>(end - start)));
  std::string text(reinterpret_cast<const char*>(start), static_cast<size_t>((zero ? zero : end) - start));
  position_ = zero ? static_cast<size_t>(zero - data_) + 1 : size_;
  return text;
}

void TMySqlNet::ReadBytes(uint8_t* destination, size_t count) {
  Need(count);
  std::memcpy(destination, data_ + position_, count);
  position_ += count;
}

void TMySqlNet::ParseError() {
  position_ = 0;
  if (size_ < 3) Malformed();
  ReadByte();
  uint16_t number = ReadLE16();
  throw EMySqlException(number, ReadZString());
}

}  // namespace da::mysql
