#include "driver/Blob.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/CodePage.h"
#include "common/Exception.h"

namespace da {

// --- TBlob -------------------------------------------------------------------

size_t TBlob::Read(size_t pos, size_t count, void* dest) const {
  if (pos >= size_) return 0;
  if (count == 0 || count > size_ - pos) count = size_ - pos;
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  size_t start = 0;  // value offset of the current piece
  for (const Piece& p : pieces_) {
    if (done == count) break;
    if (pos < start + p.used) {
      size_t from = pos - start;
      size_t n = std::min(p.used - from, count - done);
      std::memcpy(out + done, p.data.get() + from, n);
      done += n;
      pos += n;
    }
    start += p.used;
  }
  return done;
}

// Every piece but the last is full, so a position inside the value lies in
// the piece whose used range holds it, and only the last piece has room.
void TBlob::WriteBytes(size_t pos, size_t count, const uint8_t* source) {
  if (pos > size_) pos = size_;
  size_t done = 0;
  size_t start = 0;
  for (size_t i = 0; i < pieces_.size() && done < count; ++i) {
    Piece& p = pieces_[i];
    const size_t room = (i + 1 == pieces_.size()) ? p.capacity : p.used;
    if (pos < start + room) {
      size_t from = pos - start;
      size_t n = std::min(room - from, count - done);
      if (source)
        std::memcpy(p.data.get() + from, source + done, n);
      else
        std::memset(p.data.get() + from, 0, n);
      p.used = std::max(p.used, from + n);
      done += n;
      pos += n;
    }
    start += p.used;
  }
  while (done < count) {
    Piece p;
    p.capacity = std::min(kPieceSize, count - done);
    p.data.reset(new uint8_t[p.capacity]);
    if (source)
      std::memcpy(p.data.get(), source + done, p.capacity);
    else
      std::memset(p.data.get(), 0, p.capacity);
    p.used = p.capacity;
    done += p.capacity;
    pieces_.push_back(std::move(p));
  }
  size_ = 0;
  for (const Piece& p : pieces_) size_ += p.used;
}

void TBlob::Write(size_t pos, size_t count, const void* source) {
  if (count == 0) return;
  WriteBytes(pos, count, static_cast<const uint8_t*>(source));
}

void TBlob::Truncate(size_t newSize) {
  if (newSize >= size_) {
    if (newSize > size_) WriteBytes(size_, newSize - size_, nullptr);
    return;
  }
  if (newSize == 0) {
    pieces_.clear();
    size_ = 0;
    return;
  }
  size_t start = 0;
  size_t keep = 0;
  for (; keep < pieces_.size(); ++keep) {
    Piece& p = pieces_[keep];
    if (newSize <= start + p.used) {
      p.used = newSize - start;
      ++keep;
      break;
    }
    start += p.used;
  }
  pieces_.resize(keep);
  size_ = newSize;
}

std::string TBlob::AsString() const {
  if (isUnicode_) return Utf16ToWin1252(AsWideString());
  std::string out(size_, '\0');
  Read(0, 0, out.data());
  return out;
}

std::u16string TBlob::AsWideString() const {
  if (!isUnicode_) return Win1252ToUtf16(AsString());
  std::u16string out(size_ / 2, u'\0');
  if (!out.empty()) Read(0, out.size() * 2, out.data());
  return out;
}

void TBlob::SetAsString(const std::string& text) {
  Clear();
  isUnicode_ = false;
  Write(0, text.size(), text.data());
}

void TBlob::SetAsWideString(const std::u16string& text) {
  Clear();
  isUnicode_ = true;
  Write(0, text.size() * 2, text.data());
}

size_t TBlob::ReadAsAnsi(size_t pos, size_t count, char* dest) const {
  if (!isUnicode_) return Read(pos, count, dest);
  const size_t chars = size_ / 2;
  if (pos >= chars) return 0;
  if (count == 0 || count > chars - pos) count = chars - pos;
  std::u16string wide(count, u'\0');
  Read(pos * 2, count * 2, wide.data());
  std::string text = Utf16ToWin1252(wide);
  // A surrogate pair becomes one character, so the text is never longer.
  std::memcpy(dest, text.data(), text.size());
  return text.size();
}

// --- TSharedObjectTable ------------------------------------------------------
//
// A reference is the slot number (1-based, low 24 bits) and the slot's
// generation (high 8 bits). A slot's generation moves on whenever its object
// goes, so that a reference kept after its value was released (a record
// buffer outliving the records) names nothing rather than the slot's next
// object.

namespace {

constexpr unsigned kSlotBits = 24;
constexpr uint32_t kSlotMask = (uint32_t{1} << kSlotBits) - 1;

}  // namespace

TSharedObjectTable::Slot* TSharedObjectTable::SlotOf(TObjectRef ref) {
  return const_cast<Slot*>(static_cast<const TSharedObjectTable*>(this)->SlotOf(ref));
}

const TSharedObjectTable::Slot* TSharedObjectTable::SlotOf(TObjectRef ref) const {
  const uint32_t number = ref & kSlotMask;
  if (number == 0 || number > slots_.size()) return nullptr;
  const Slot& slot = slots_[number - 1];
  if (slot.refs == 0 || generations_[number - 1] != (ref >> kSlotBits)) return nullptr;
  return &slot;
}

TObjectRef TSharedObjectTable::Add(std::shared_ptr<TSharedObject> object) {
  if (!object) throw EAssertionFailed("No object to refer to");
  uint32_t number;
  if (freeHead_ != 0) {
    number = freeHead_;
    freeHead_ = slots_[number - 1].nextFree;
  } else {
    if (slots_.size() >= kSlotMask) throw std::bad_alloc();
    slots_.emplace_back();
    if (generations_.size() < slots_.size()) generations_.push_back(0);
    number = static_cast<uint32_t>(slots_.size());
  }
  Slot& slot = slots_[number - 1];
  slot.object = std::move(object);
  slot.refs = 1;
  slot.nextFree = 0;
  ++live_;
  return (static_cast<uint32_t>(generations_[number - 1]) << kSlotBits) | number;
}

void TSharedObjectTable::AddRef(TObjectRef ref) {
  Slot* slot = SlotOf(ref);
  if (!slot || slot->refs == UINT32_MAX) throw EAssertionFailed("Invalid object reference");
  ++slot->refs;
}

bool TSharedObjectTable::Release(TObjectRef ref) {
  Slot* slot = SlotOf(ref);
  if (!slot) throw EAssertionFailed("Invalid object reference");
  if (--slot->refs > 0) return false;
  std::shared_ptr<TSharedObject> last = std::move(slot->object);
  const uint32_t number = ref & kSlotMask;
  ++generations_[number - 1];
  slot->nextFree = freeHead_;
  freeHead_ = number;
  --live_;
  return true;  // `last` lets the object go after the table is consistent
}

TSharedObject* TSharedObjectTable::Get(TObjectRef ref) const {
  const Slot* slot = SlotOf(ref);
  return slot ? slot->object.get() : nullptr;
}

std::shared_ptr<TSharedObject> TSharedObjectTable::Share(TObjectRef ref) const {
  const Slot* slot = SlotOf(ref);
  return slot ? slot->object : nullptr;
}

uint32_t TSharedObjectTable::RefCount(TObjectRef ref) const {
  const Slot* slot = SlotOf(ref);
  return slot ? slot->refs : 0;
}

void TSharedObjectTable::Clear() {
  std::vector<Slot> old;
  old.swap(slots_);
  // The generations stay (one byte a slot): references handed out before
  // must not name the objects added after.
  for (uint8_t& g : generations_) ++g;
  freeHead_ = 0;
  live_ = 0;
}

}  // namespace da
