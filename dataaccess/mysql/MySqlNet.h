#pragma once
// The packet layer: frames a transport's byte stream into MySQL packets and
// back (4-byte header, 16 MiB split, optional zlib framing with its 7-byte
// header), checks sequence numbers, recognises server error packets, and
// reads and writes the little-endian fields of packet bodies.
//
// This is the only place that knows the packet header: everything above asks
// for "the next packet" and builds bodies with the writers.

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/CRVio.h"

namespace da::mysql {

class TMySqlNet {
 public:
  static constexpr size_t kHeaderSize = 4;
  static constexpr size_t kCompHeaderSize = 7;
  // Largest payload of one packet; a payload this long continues in the next.
  static constexpr uint32_t kMaxPacket = 0xFFFFFF;
  // Packets are assembled in a buffer of this size; longer bodies are sent
  // from the caller's memory.
  static constexpr size_t kWriteThreshold = 8192;
  // Blocks (logical header included) shorter than this travel stored, not deflated.
  static constexpr size_t kMinCompressBlock = 51;
  // Largest logical packet accepted from the server: the maximum packet size
  // the client announces at login.
  static constexpr size_t kMaxLogicalPacket = 1073741824;
  static constexpr int64_t kNullLength = -1;

  TMySqlNet();
  // Closes the transport, ignoring any failure.
  ~TMySqlNet();
  TMySqlNet(const TMySqlNet&) = delete;
  TMySqlNet& operator=(const TMySqlNet&) = delete;

  // Closes and frees the current transport, then owns `transport`.
  void SetTransport(std::unique_ptr<TCRVio> transport);
  TCRVio* Transport() const { return transport_.get(); }
  // Empties both buffers, closes and frees the transport (freed even when
  // closing raised; the exception then passes on).
  void CloseNet();

  // Sequence numbers := 0 and reset for writing; every command starts so.
  void ResetSequence();
  // Empties the packet buffer for a new outgoing packet (header space kept).
  void ResetWrite();
  // Sends the packet built in the buffer, if it holds any payload, split
  // into 16 MiB packets as needed.
  void FlushPacket();
  // Sends a packet with an empty payload; the buffer must be empty.
  void SendEmptyPacket();

  // Reads one logical packet (continuations joined) into the packet buffer,
  // position 0. A server error packet raises EMySqlException with the
  // server's number and text; a short read raises 2013, a packet out of
  // sequence 1156, a packet over kMaxLogicalPacket 2020.
  void ReceivePacket();
  // Reads one packet into `bytes` instead of the packet buffer. An empty or a
  // 16 MiB packet raises 2027; an error packet raises the server's error.
  void ReceivePacketBytes(std::vector<uint8_t>& bytes);
  // Reads one physical packet in pieces of at most `chunk` bytes into
  // `piece` (grown to `chunk` once and reused), discarding them. With
  // `check`, a first byte 0xFF raises the server's error. For a non-empty
  // packet piece[0] is then the packet's first byte with `check`, 0
  // without; for a packet of at most `chunk` bytes the piece holds it whole.
  // Returns the packet's length.
  uint32_t SkipPacket(uint32_t chunk, bool check, std::vector<uint8_t>& piece);

  bool IsCompressed() const { return compress_; }
  void SetCompressed(bool on) { compress_ = on; }
  uint8_t SequenceNumber() const { return sequence_; }

  // Writers: append to the packet being built, little-endian.
  void WriteByte(uint8_t value);
  void WriteFlag(bool value) { WriteByte(value ? 1 : 0); }
  void WriteLE16(uint16_t value);
  void WriteLE24(uint32_t value);
  void WriteLE32(uint32_t value);
  void WriteLE64(uint64_t value);
  void WriteLengthCoded(uint64_t value);
  void WriteFill(uint8_t value, size_t count);
  void WriteZString(std::string_view text);
  void WriteBytes(const uint8_t* bytes, size_t count);
  void WriteBytes(std::string_view bytes) { WriteBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }
  // Appends a body that may be large: up to the buffer threshold it is
  // copied; the rest goes out at once from `bytes` (which need only live
  // for the call). A caller's FlushPacket afterwards sends what stayed in
  // the buffer. A payload of an exact multiple of 16 MiB - 1 ends with an
  // empty packet, so that the server knows it is complete.
  void WriteSplit(const uint8_t* bytes, size_t count);

  // Readers: from the position of the received packet, advancing it. Reading
  // past the packet's end raises 2027 "Malformed packet".
  uint8_t ReadByte();
  uint16_t ReadLE16();
  uint32_t ReadLE24();
  uint32_t ReadLE32();
  uint64_t ReadLE64();
  // The protocol's length-coded integer; NULL (0xFB) gives -1. Lengths and
  // counts: values above the signed 64-bit range are malformed.
  int64_t ReadLengthCoded();
  // The protocol's length-coded integer over the full unsigned 64-bit range,
  // for counters the server keeps unsigned (affected rows, insert id); NULL
  // is malformed there.
  uint64_t ReadLengthCodedUnsigned();
  // Up to the next 0 byte (then skipped) or the end of the packet.
  std::string ReadZString();
  void ReadBytes(uint8_t* destination, size_t count);

  // The received packet, for callers that parse in place: in the packet
  // buffer, or in place in the bytes received ahead when it lay there whole.
  // Valid until the next read or write on this net.
  const uint8_t* Memory() const { return data_; }
  size_t Size() const { return size_; }
  size_t Position() const { return position_; }
  size_t Remaining() const { return size_ - position_; }
  void SetPosition(size_t position);

  // Parses the error packet at the start of the buffer and raises it.
  [[noreturn]] void ParseError();

 private:
  void Reserve(size_t size);
  void Need(size_t count) const;
  TCRVio& Vio() const;
  void WriteHeaderAt(size_t offset, uint32_t length);
  void AfterSend();
  void SendBlock(const uint8_t* data, size_t count);
  void SendCompressed(const uint8_t* data, size_t count);
  void SendFromBuffer(size_t count, uint32_t headerLength);
  void TransportWrite(const uint8_t* data, size_t count);
  void TransportRead(uint8_t* destination, size_t count);
  uint32_t ReadHeader();
  bool ReceiveInPlace();
  void Received(const uint8_t* data, size_t size);
  void ReadBlock(uint8_t* destination, size_t count);
  void FillCompressedInput();

  std::unique_ptr<TCRVio> transport_;
  // The packet being built (header space first) or the payload received.
  // The vector only grows; size_ is the packet's length within it.
  std::vector<uint8_t> buffer_;
  size_t size_ = 0;
  size_t position_ = 0;
  // The received packet: buffer_.data(), or a borrowed pointer into the
  // transport's read-ahead bytes or the uncompressed input.
  const uint8_t* data_ = nullptr;
  // Uncompressed bytes of received compressed packets not consumed yet.
  std::vector<uint8_t> compIn_;
  size_t compInSize_ = 0;
  size_t compInPosition_ = 0;
  std::vector<uint8_t> compScratch_;  // compressed input, deflate output
  uint8_t sequence_ = 0;
  uint8_t compSequence_ = 0;
  bool compress_ = false;
  z_stream inflater_{};
  bool inflaterReady_ = false;
};

}  // namespace da::mysql
