#include "driver/MemData.h"

#include <cmath>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <exception>

#include "common/AnsiCase.h"
#include "common/DAErrors.h"
#include "common/DateTime.h"
#include "common/Format.h"
#include "common/Unaligned.h"
#include "driver/BcdText.h"

namespace da {
namespace {

size_t BoundedLength(const char* s, size_t max) {
  const void* zero = std::memchr(s, 0, max);
  return zero ? static_cast<size_t>(static_cast<const char*>(zero) - s) : max;
}

// Characters before the terminating zero, at most `max`; `s` may be unaligned.
size_t BoundedWideLength(const uint8_t* s, size_t max) {
  for (size_t i = 0; i < max; ++i)
    if (s[2 * i] == 0 && s[2 * i + 1] == 0) return i;
  return max;
}

std::u16string LoadWide(const uint8_t* s, size_t chars) {
  std::u16string out(chars, u'\0');
  if (chars) std::memcpy(out.data(), s, chars * 2);
  return out;
}

void TrimBlanks(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}
void TrimBlanks(std::u16string& s) {
  while (!s.empty() && s.back() == u' ') s.pop_back();
}

[[noreturn]] void TooSmall(const TFieldDesc& f) {
  throw EAssertionFailed(Format("The buffer is too small for field %s", {f.Name()}));
}


}  // namespace

// --- TFieldDescs -------------------------------------------------------------

TFieldDesc& TFieldDescs::Add(std::unique_ptr<TFieldDesc> field) {
  if (!field) throw EAssertionFailed("No field description to add");
  items_.push_back(std::move(field));
  return *items_.back();
}

TFieldDesc* TFieldDescs::FindField(std::string_view name) const {
  for (const auto& f : items_)
    if (!f->Parent() && AnsiSameText(f->Name(), name)) return f.get();
  const bool qualified = name.find_first_of(".[") != std::string_view::npos;
  for (const auto& f : items_) {
    if (qualified ? AnsiSameText(f->ActualName(), name) : (f->Parent() && AnsiSameText(f->Name(), name)))
      return f.get();
  }
  return nullptr;
}

TFieldDesc& TFieldDescs::FieldByName(std::string_view name) const {
  if (TFieldDesc* f = FindField(name)) return *f;
  DatabaseError(Format("Field %s not found", {name}));
}

// --- TData: lifecycle --------------------------------------------------------

TData::TData() : heap_(std::make_unique<TStringHeap>()) {}

TData::~TData() = default;

void TData::InternalOpen() {
  if (fields_.Empty()) InitFields();
}

void TData::Open() {
  if (active_) return;
  InitData();
  try {
    InternalOpen();
    AfterOpen();
    active_ = true;
  } catch (...) {
    // Leave the store closed; a failing cleanup must not hide the cause.
    try {
      InternalClose();
    } catch (...) {
    }
    try {
      ClearData();
    } catch (...) {
    }
    if (!prepared_) fields_.Clear();
    active_ = false;
    throw;
  }
}

void TData::Close() {
  std::exception_ptr error;
  if (active_) {
    try {
      InternalClose();
    } catch (...) {
      error = std::current_exception();
    }
  }
  active_ = false;
  ClearData();
  if (!prepared_) fields_.Clear();
  if (error) std::rethrow_exception(error);
}

void TData::Prepare() {
  InternalPrepare();
  prepared_ = true;
}

void TData::UnPrepare() {
  // Records cannot outlive the descriptions of their fields.
  if (active_) Close();
  if (prepared_) InternalUnPrepare();
  prepared_ = false;
  fields_.Clear();
}

void TData::Reopen() {
  Close();
  Open();
}

// --- TData: layout -----------------------------------------------------------

void TData::InitFields() {
  fields_.Clear();
  InternalInitFields();
  ComputeLayout();
}

void TData::ComputeLayout() {
  // Computed first and committed only when the store accepts the new size.
  const int count = fields_.Count();
  std::vector<size_t> offsets(static_cast<size_t>(count));
  size_t offset = 0;
  for (int i = 0; i < count; ++i) {
    const TFieldDesc& f = fields_[i];
    if (!f.IsDataField()) continue;
    if (f.DataType() == dtWideString && offset % 2 != 0) ++offset;
    offsets[static_cast<size_t>(i)] = offset;
    offset += f.Size();
  }
  const size_t dataSize = offset;
  size_t recordSize = dataSize + static_cast<size_t>(count);
  if (recordSize % 2 == 0) ++recordSize;

  size_t calcEnd = recordSize;
  for (int i = 0; i < count; ++i) {
    const TFieldDesc& f = fields_[i];
    if (f.IsDataField()) continue;
    if (f.DataType() == dtWideString && calcEnd % 2 != 0) ++calcEnd;
    offsets[static_cast<size_t>(i)] = calcEnd;
    calcEnd += f.Size();
  }
  size_t calcRecordSize = calcEnd - recordSize;
  if (calcRecordSize != 0 && calcRecordSize % 2 == 0) ++calcRecordSize;

  CheckLayout(recordSize);
  for (int i = 0; i < count; ++i) {
    fields_[i].SetFieldNo(i + 1);
    fields_[i].SetOffset(offsets[static_cast<size_t>(i)]);
  }
  layoutFieldCount_ = count;
  dataSize_ = dataSize;
  recordSize_ = recordSize;
  calcRecordSize_ = calcRecordSize;
  LayoutChanged();
}

TRecBuf TData::AllocRecBuf(bool withCalcArea) const {
  size_t size = recordSize_ + (withCalcArea ? calcRecordSize_ : 0);
  return TRecBuf(new uint8_t[size == 0 ? 1 : size]());
}

void TData::FieldOutOfRange(int fieldNo) {
  throw EAssertionFailed(Format("Field number %d is out of range", {fieldNo}));
}

// Calculated and lookup values lie after RecordSize: stored records and
// plain record buffers have no room for them.
void TData::NotStored(const TFieldDesc& f) {
  throw EAssertionFailed(Format("Field %s is not stored in the record", {f.Name()}));
}

uint32_t TData::ReadRef(const uint8_t* rec, const TFieldDesc& f) { return LoadUnaligned<uint32_t>(rec + f.Offset()); }

void TData::WriteRef(uint8_t* rec, const TFieldDesc& f, uint32_t ref) { StoreUnaligned<uint32_t>(rec + f.Offset(), ref); }

// --- TData: null flags -------------------------------------------------------

bool TData::BlobIsNull(int fieldNo, uint8_t* recBuf) const {
  const TBlob* blob = GetBlob(fieldNo, recBuf);
  if (blob && !blob->IsEmpty()) return false;
  recBuf[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 1;
  return true;
}

void TData::SetNull(int fieldNo, uint8_t* recBuf, bool value) {
  const TFieldDesc& f = CheckField(fieldNo);
  recBuf[dataSize_ + static_cast<size_t>(fieldNo) - 1] = value ? 1 : 0;
  if (value && f.IsBlob() && f.IsDataField())
    if (TBlob* blob = GetBlob(fieldNo, recBuf)) blob->Clear();
}

// --- TData: reading ----------------------------------------------------------

size_t TData::ReadText(const TFieldDesc& f, const char* src, size_t srcLen, char* dest, size_t destSize) const {
  if (destSize == 0) return 0;
  const size_t cap = destSize - 1;
  size_t o = 0;
  if (!convertEOL_) {
    o = srcLen < cap ? srcLen : cap;
    std::memcpy(dest, src, o);
  } else {
    for (size_t i = 0; i < srcLen; ++i) {
      if (src[i] == '\n' && (i == 0 || src[i - 1] != '\r')) {
        if (o + 2 > cap) break;
        dest[o++] = '\r';
        dest[o++] = '\n';
      } else {
        if (o + 1 > cap) break;
        dest[o++] = src[i];
      }
    }
  }
  if ((f.DataType() == dtString || f.DataType() == dtGuid) && TrimsBlanks(f))
    while (o > 0 && dest[o - 1] == ' ') --o;
  dest[o] = '\0';
  return o;
}

size_t TData::ReadWideText(const TFieldDesc& f, const char16_t* src, size_t srcLen, char16_t* dest,
                           size_t destChars) const {
  if (destChars == 0) return 0;
  const size_t cap = destChars - 1;
  std::u16string out;
  out.reserve(srcLen < cap ? srcLen : cap);
  for (size_t i = 0; i < srcLen; ++i) {
    if (convertEOL_ && src[i] == u'\n' && (i == 0 || src[i - 1] != u'\r')) {
      if (out.size() + 2 > cap) break;
      out += u"\r\n";
    } else {
      if (out.size() + 1 > cap) break;
      out += src[i];
    }
  }
  if (f.DataType() == dtWideString && TrimsBlanks(f)) TrimBlanks(out);
  out += u'\0';
  std::memcpy(dest, out.data(), out.size() * 2);  // `dest` may be unaligned: bytes only
  return out.size() - 1;
}

void TData::ReadFieldValue(int fieldNo, uint8_t* recBuf, void* dest, size_t destSize, bool& isBlank) const {
  const TFieldDesc& f = CheckDataField(fieldNo);
  isBlank = GetNull(fieldNo, recBuf);
  if (!dest) return;
  if (isBlank && (f.IsObject() || f.IsExt())) return;
  const uint8_t* src = recBuf + f.Offset();
  auto* out = static_cast<uint8_t*>(dest);
  auto need = [&](size_t n) {
    if (destSize < n) TooSmall(f);
  };

  switch (f.DataType()) {
    case dtString:
    case dtGuid: {
      size_t max = f.Size() == 0 ? 0 : f.Size() - 1;
      if (f.Length() >= 0 && static_cast<size_t>(f.Length()) < max) max = static_cast<size_t>(f.Length());
      const char* s = reinterpret_cast<const char*>(src);
      ReadText(f, s, BoundedLength(s, max), static_cast<char*>(dest), destSize);
      return;
    }
    case dtExtString: {
      const THeapRef ref = ReadRef(recBuf, f);
      if (ref == 0) {
        if (destSize) out[0] = 0;
        return;
      }
      size_t itemSize;
      const char* s = heap_->Data(ref, itemSize);
      ReadText(f, s, BoundedLength(s, itemSize), static_cast<char*>(dest), destSize);
      return;
    }
    case dtWideString:
    case dtExtWideString: {
      std::u16string text;
      if (f.DataType() == dtWideString) {
        size_t max = f.Size() < 2 ? 0 : (f.Size() - 2) / 2;
        if (f.Length() >= 0 && static_cast<size_t>(f.Length()) < max) max = static_cast<size_t>(f.Length());
        text = LoadWide(src, BoundedWideLength(src, max));
      } else if (const THeapRef ref = ReadRef(recBuf, f)) {
        const auto* s = reinterpret_cast<const uint8_t*>(heap_->Data(ref));
        text = LoadWide(s, BoundedWideLength(s, heap_->ItemSize(ref) / 2));
      }
      ReadWideText(f, text.data(), text.size(), static_cast<char16_t*>(dest), destSize / 2);
      return;
    }
    case dtDate:
      need(4);
      StoreUnaligned<int32_t>(out, DateTimeToTimeStamp(LoadUnaligned<double>(src)).date);
      return;
    case dtTime:
      need(4);
      StoreUnaligned<int32_t>(out, DateTimeToTimeStamp(LoadUnaligned<double>(src)).time);
      return;
    case dtDateTime:
      need(8);
      StoreUnaligned<double>(out, TimeStampToMSecs(DateTimeToTimeStamp(LoadUnaligned<double>(src))));
      return;
    case dtUInt32:
      need(8);
      StoreUnaligned<int64_t>(out, static_cast<int64_t>(LoadUnaligned<uint32_t>(src)));
      return;
    case dtExtVarBytes: {
      need(2);
      uint16_t length = 0;
      const uint8_t* bytes = nullptr;
      if (const THeapRef ref = ReadRef(recBuf, f)) {
        const auto* item = reinterpret_cast<const uint8_t*>(heap_->Data(ref));
        const size_t itemSize = heap_->ItemSize(ref);
        length = itemSize < 2 ? 0 : LoadUnaligned<uint16_t>(item);
        if (length > itemSize - 2) length = static_cast<uint16_t>(itemSize - 2);
        bytes = item + 2;
      }
      if (length > destSize - 2) length = static_cast<uint16_t>(destSize - 2);
      StoreUnaligned<uint16_t>(out, length);
      if (length) std::memcpy(out + 2, bytes, length);
      return;
    }
    case dtFmtBCD:
      need(kFmtBcdSize);
      if (f.Size() < kFmtBcdSize) TooSmall(f);
      std::memcpy(out, src, kFmtBcdSize);
      return;
    default:
      need(f.Size());
      std::memcpy(out, src, f.Size());
      return;
  }
}

Variant TData::GetFieldAsVariant(int fieldNo, uint8_t* recBuf) const {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (GetNull(fieldNo, recBuf)) return Variant::Null();
  const uint8_t* src = recBuf + f.Offset();
  switch (f.DataType()) {
    case dtString:
    case dtGuid: {
      size_t max = f.Size() == 0 ? 0 : f.Size() - 1;
      if (f.Length() >= 0 && static_cast<size_t>(f.Length()) < max) max = static_cast<size_t>(f.Length());
      const char* s = reinterpret_cast<const char*>(src);
      std::string text(s, BoundedLength(s, max));
      if (TrimsBlanks(f)) TrimBlanks(text);
      return Variant(std::move(text));
    }
    case dtExtString: {
      const THeapRef ref = ReadRef(recBuf, f);
      if (ref == 0) return Variant(std::string());
      size_t itemSize;
      const char* s = heap_->Data(ref, itemSize);
      return Variant(std::string(s, BoundedLength(s, itemSize)));
    }
    case dtWideString: {
      size_t max = f.Size() < 2 ? 0 : (f.Size() - 2) / 2;
      if (f.Length() >= 0 && static_cast<size_t>(f.Length()) < max) max = static_cast<size_t>(f.Length());
      std::u16string text = LoadWide(src, BoundedWideLength(src, max));
      if (TrimsBlanks(f)) TrimBlanks(text);
      return Variant(std::move(text));
    }
    case dtExtWideString: {
      const THeapRef ref = ReadRef(recBuf, f);
      if (ref == 0) return Variant(std::u16string());
      const auto* s = reinterpret_cast<const uint8_t*>(heap_->Data(ref));
      return Variant(LoadWide(s, BoundedWideLength(s, heap_->ItemSize(ref) / 2)));
    }
    case dtInt8:
      return Variant(static_cast<int8_t>(LoadUnaligned<int16_t>(src)));
    case dtInt16:
      return Variant(LoadUnaligned<int16_t>(src));
    case dtUInt16:
      return Variant(LoadUnaligned<uint16_t>(src));
    case dtBoolean:
      return Variant(LoadUnaligned<int16_t>(src) != 0);
    case dtInt32:
      return Variant(LoadUnaligned<int32_t>(src));
    case dtUInt32:
      return Variant(static_cast<int64_t>(LoadUnaligned<uint32_t>(src)));
    case dtInt64:
      return Variant(LoadUnaligned<int64_t>(src));
    case dtFloat:
    case dtCurrency:
      return Variant(LoadUnaligned<double>(src));
    case dtBCD:
      return Variant(Currency{LoadUnaligned<int64_t>(src)});
    case dtFmtBCD:
      return f.Size() < kFmtBcdSize ? Variant() : Variant(FmtBcdToDouble(src));
    case dtDate:
    case dtTime:
    case dtDateTime:
      return Variant::FromDateTime(LoadUnaligned<double>(src));
    case dtBytes: {
      size_t n = f.Length() >= 0 ? static_cast<size_t>(f.Length()) : 0;
      if (n > f.Size()) n = f.Size();
      return Variant(Variant::Bytes(src, src + n));
    }
    case dtVarBytes: {
      if (f.Size() < 2) return Variant(Variant::Bytes());
      size_t n = LoadUnaligned<uint16_t>(src);
      if (n > f.Size() - 2) n = f.Size() - 2;
      return Variant(Variant::Bytes(src + 2, src + 2 + n));
    }
    case dtExtVarBytes: {
      const THeapRef ref = ReadRef(recBuf, f);
      if (ref == 0) return Variant(Variant::Bytes());
      const auto* item = reinterpret_cast<const uint8_t*>(heap_->Data(ref));
      const size_t itemSize = heap_->ItemSize(ref);
      size_t n = itemSize < 2 ? 0 : LoadUnaligned<uint16_t>(item);
      if (n > itemSize - 2) n = itemSize - 2;
      return Variant(Variant::Bytes(item + 2, item + 2 + n));
    }
    case dtBlob:
    case dtMemo:
    case dtWideMemo: {
      const TBlob* blob = GetBlob(fieldNo, recBuf);
      if (f.DataType() == dtMemo) return Variant(blob ? blob->AsString() : std::string());
      if (f.DataType() == dtWideMemo) return Variant(blob ? blob->AsWideString() : std::u16string());
      Variant::Bytes bytes(blob ? blob->Size() : 0);
      if (!bytes.empty()) blob->Read(0, 0, bytes.data());
      return Variant(std::move(bytes));
    }
    case dtVariant: {
      auto* holder = dynamic_cast<TVariantObject*>(objects_.Get(ReadRef(recBuf, f)));
      return holder ? holder->value : Variant::Null();
    }
    default:
      return Variant();
  }
}

// --- TData: writing ----------------------------------------------------------

void TData::PutField(int fieldNo, uint8_t* recBuf, const void* source, size_t sourceSize, bool raw) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  uint8_t* dst = recBuf + f.Offset();
  const auto* src = static_cast<const uint8_t*>(source);
  auto need = [&](size_t n) {
    if (!source || sourceSize < n) TooSmall(f);
  };

  switch (f.DataType()) {
    case dtString:
    case dtGuid: {
      if (f.Size() == 0) TooSmall(f);
      size_t max = f.Size() - 1;
      size_t len = source ? BoundedLength(static_cast<const char*>(source), sourceSize < max ? sourceSize : max) : 0;
      if (len) std::memcpy(dst, src, len);
      dst[len] = 0;
      break;
    }
    case dtWideString: {
      if (f.Size() < 2) TooSmall(f);
      size_t max = (f.Size() - 2) / 2;
      size_t len = source ? BoundedWideLength(src, sourceSize / 2 < max ? sourceSize / 2 : max) : 0;
      if (len) std::memcpy(dst, src, len * 2);
      dst[len * 2] = dst[len * 2 + 1] = 0;
      break;
    }
    case dtExtString: {
      const char* s = static_cast<const char*>(source);
      PutExtString(fieldNo, recBuf, s ? std::string_view(s, BoundedLength(s, sourceSize)) : std::string_view());
      return;
    }
    case dtExtWideString:
      PutExtWideString(fieldNo, recBuf, source ? LoadWide(src, BoundedWideLength(src, sourceSize / 2)) : u"");
      return;
    case dtExtVarBytes: {
      need(2);
      size_t len = LoadUnaligned<uint16_t>(src);
      if (len > sourceSize - 2) len = sourceSize - 2;
      PutExtVarBytes(fieldNo, recBuf, src + 2, static_cast<uint16_t>(len));
      return;
    }
    case dtVarBytes: {
      need(2);
      if (f.Size() < 2) TooSmall(f);
      size_t len = LoadUnaligned<uint16_t>(src);
      if (len > sourceSize - 2) len = sourceSize - 2;
      if (len > f.Size() - 2) len = f.Size() - 2;
      StoreUnaligned<uint16_t>(dst, static_cast<uint16_t>(len));
      std::memcpy(dst + 2, src + 2, len);
      break;
    }
    case dtBytes: {
      size_t n = source ? (sourceSize < f.Size() ? sourceSize : f.Size()) : 0;
      if (n) std::memcpy(dst, src, n);
      std::memset(dst + n, 0, f.Size() - n);
      break;
    }
    case dtFloat: {
      need(8);
      double v = LoadUnaligned<double>(src);
      // Scales from MySQL above 15 mean "not fixed" (31): nothing to round to.
      if (!raw && f.Scale() > 0 && f.Scale() <= 15 && std::isfinite(v)) {
        double factor = std::pow(10.0, f.Scale());
        double rounded = std::round(v * factor) / factor;
        if (std::isfinite(rounded)) v = rounded;
      }
      StoreUnaligned<double>(dst, v);
      break;
    }
    case dtDate:
      need(4);
      StoreUnaligned<double>(dst, TimeStampToDateTime(TTimeStamp{0, LoadUnaligned<int32_t>(src)}));
      break;
    case dtTime:
      need(4);
      StoreUnaligned<double>(dst, static_cast<double>(LoadUnaligned<int32_t>(src)) / kMSecsPerDay);
      break;
    case dtDateTime:
      need(8);
      StoreUnaligned<double>(dst, TimeStampToDateTime(MSecsToTimeStamp(LoadUnaligned<double>(src))));
      break;
    case dtUInt32:
      need(4);
      StoreUnaligned<uint32_t>(dst, sourceSize >= 8 ? static_cast<uint32_t>(LoadUnaligned<int64_t>(src)) : LoadUnaligned<uint32_t>(src));
      break;
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
    case dtVariant:
      throw EAssertionFailed(Format("Field %s is written through its object", {f.Name()}));
    case dtFmtBCD:
      need(kFmtBcdSize);
      if (f.Size() < kFmtBcdSize) TooSmall(f);
      std::memcpy(dst, src, kFmtBcdSize);
      break;
    default:
      need(f.Size());
      std::memcpy(dst, src, f.Size());
      break;
  }
  recBuf[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

void TData::ReleaseExt(const TFieldDesc& f, uint8_t* record) {
  const THeapRef ref = ReadRef(record, f);
  // After the heap was cleared a reference names nothing any more.
  if (ref != 0 && !heap_->Empty()) heap_->DisposeBuf(ref);
  WriteRef(record, f, 0);
}

void TData::PutExtString(int fieldNo, uint8_t* record, std::string_view text, bool trimTrailingBlanks) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtExtString) throw EAssertionFailed(Format("Field %s is not an ext string", {f.Name()}));
  if (trimTrailingBlanks)
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  ReleaseExt(f, record);
  if (!text.empty()) WriteRef(record, f, heap_->AllocStr(text));
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

void TData::PutExtWideString(int fieldNo, uint8_t* record, std::u16string_view text, bool trimTrailingBlanks) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtExtWideString)
    throw EAssertionFailed(Format("Field %s is not an ext wide string", {f.Name()}));
  if (trimTrailingBlanks)
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  ReleaseExt(f, record);
  if (!text.empty()) WriteRef(record, f, heap_->AllocWideStr(text));
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

void TData::PutExtVarBytes(int fieldNo, uint8_t* record, const void* bytes, uint16_t length) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtExtVarBytes) throw EAssertionFailed(Format("Field %s is not an ext var-bytes", {f.Name()}));
  ReleaseExt(f, record);
  if (length != 0) {
    THeapRef ref = heap_->NewBuf(size_t{2} + length);
    char* item = heap_->Data(ref);
    std::memcpy(item, &length, 2);
    std::memcpy(item + 2, bytes, length);
    WriteRef(record, f, ref);
  }
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

void TData::PutBCDText(int fieldNo, uint8_t* record, std::string_view text) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtBCD) throw EAssertionFailed(Format("Field %s is not a BCD field", {f.Name()}));
  int64_t scaled = 0;
  if (!TextToCurrency(text, scaled)) throw EConvertError(Format("'%s' is not a valid BCD value", {text}));
  StoreUnaligned<int64_t>(record + f.Offset(), scaled);
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

void TData::PutFmtBCDText(int fieldNo, uint8_t* record, std::string_view text) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtFmtBCD || f.Size() < kFmtBcdSize)
    throw EAssertionFailed(Format("Field %s is not a FmtBCD field", {f.Name()}));
  uint8_t bcd[kFmtBcdSize];
  if (!TextToFmtBcd(text, f.Length(), f.Scale(), bcd))
    throw EConvertError(Format("'%s' is not a valid BCD value", {text}));
  std::memcpy(record + f.Offset(), bcd, kFmtBcdSize);
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = 0;
}

TBlob& TData::CreateBlob(int fieldNo, uint8_t* record) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (!f.IsBlob()) throw EAssertionFailed(Format("Field %s is not a blob", {f.Name()}));
  auto blob = std::make_shared<TBlob>(f.DataType() == dtWideMemo);
  TBlob& result = *blob;
  const TObjectRef old = ReadRef(record, f);
  const TObjectRef ref = objects_.Add(std::move(blob));
  WriteRef(record, f, ref);
  if (old != 0 && objects_.Get(old)) objects_.Release(old);
  return result;
}

TBlob* TData::GetBlob(int fieldNo, const uint8_t* recBuf) const {
  const TFieldDesc& f = CheckField(fieldNo);
  if (!f.IsBlob() || !f.IsDataField()) return nullptr;
  return dynamic_cast<TBlob*>(objects_.Get(ReadRef(recBuf, f)));
}

void TData::PutVariant(int fieldNo, uint8_t* record, const Variant& value) {
  const TFieldDesc& f = CheckDataField(fieldNo);
  if (f.DataType() != dtVariant) throw EAssertionFailed(Format("Field %s is not a variant", {f.Name()}));
  const TObjectRef old = ReadRef(record, f);
  WriteRef(record, f, objects_.Add(std::make_shared<TVariantObject>(value)));
  if (old != 0 && objects_.Get(old)) objects_.Release(old);
  record[dataSize_ + static_cast<size_t>(fieldNo) - 1] = value.IsNull() ? 1 : 0;
}

// --- TData: complex fields ---------------------------------------------------

bool TData::HasComplexFields() const {
  for (int i = 0; i < fields_.Count(); ++i)
    if (fields_[i].IsDataField() && (fields_[i].IsExt() || fields_[i].IsObject())) return true;
  return false;
}

bool TData::HasObjectFields() const {
  for (int i = 0; i < fields_.Count(); ++i)
    if (fields_[i].IsDataField() && fields_[i].IsObject()) return true;
  return false;
}

// References are cleared even when others still share the value, so that
// freeing a record twice can never release someone else's share.
void TData::FreeComplexFields(uint8_t* record, bool withBlobs) {
  for (int i = 0; i < fields_.Count(); ++i) {
    const TFieldDesc& f = fields_[i];
    if (!f.IsDataField()) continue;
    if (f.IsObject()) {
      if (f.IsBlob() && !withBlobs) continue;
      const TObjectRef ref = ReadRef(record, f);
      if (ref != 0 && objects_.Get(ref)) objects_.Release(ref);
      WriteRef(record, f, 0);
    } else if (f.IsExt()) {
      ReleaseExt(f, record);
    }
  }
}

void TData::CopyComplexFields(const uint8_t* source, uint8_t* dest) {
  for (int i = 0; i < fields_.Count(); ++i) {
    const TFieldDesc& f = fields_[i];
    if (!f.IsDataField() || !(f.IsObject() || f.IsExt())) continue;
    const uint32_t ref = ReadRef(source, f);
    if (ref != 0) {
      if (f.IsObject())
        objects_.AddRef(ref);
      else
        heap_->AddReference(ref);
    }
    WriteRef(dest, f, ref);
  }
}

// --- TMemData: state --------------------------------------------------------

namespace {

int NextRefreshCounter() {
  static std::atomic<int> counter{0};
  return ++counter;
}

}  // namespace

TMemData::TMemData() { InitData(); }

TMemData::~TMemData() {
  try {
    Close();
  } catch (...) {
    // Destruction goes on; whatever the close hooks failed at is gone too.
  }
}

void TMemData::InitFields() {
  // The records are laid out by the old descriptions: they go first.
  if (first_ || blocks_.BlockCount() != 0) ClearData();
  TData::InitFields();
}

// Stored records keep their size: a new layout of another size while
// records exist is a programming error.
void TMemData::CheckLayout(size_t recordSize) const {
  if (blocks_.BlockCount() != 0 && recordSize != blocks_.RecordSize())
    throw EAssertionFailed("The record size cannot change while records are stored");
}

void TMemData::LayoutChanged() { blocks_.SetRecordSize(RecordSize()); }

void TMemData::InitData() {
  first_ = last_ = current_ = nullptr;
  bof_ = eof_ = true;
  recordCount_ = 0;
  recNoOffset_ = 0;
  releasedCount_ = 0;
  blocks_.ClearFreeList();
  InvalidateRecNoCache();
  refreshCounter_ = NextRefreshCounter();
}

void TMemData::ClearData() {
  // Only values outside the heap's pages need a walk over every record.
  const bool walk = HasObjectFields() || (HasComplexFields() && StringHeap().HasIndividualAllocations());
  if (walk)
    for (TItemHeader* item = first_; item; item = item->next) FreeComplexFields(TBlockManager::RecordOf(item), true);
  StringHeap().Clear();
  blocks_.FreeAllBlocks();
  InitData();
}

void TMemData::AfterOpen() {
  if (!indexFieldNames_.empty()) SortItems();
}

bool TMemData::IsItemVisible(TItemHeader* item) {
  if (item->filterState == kFilterUnknown) item->filterState = kFilterVisible;
  return item->filterState == kFilterVisible;
}

// --- TMemData: filling -------------------------------------------------------

void TMemData::Link(TItemHeader* item, bool atEnd) {
  if (atEnd) {
    item->prev = last_;
    item->next = nullptr;
    if (last_)
      last_->next = item;
    else
      first_ = item;
    last_ = item;
  } else {
    item->next = first_;
    item->prev = nullptr;
    if (first_)
      first_->prev = item;
    else
      last_ = item;
    first_ = item;
  }
  item->filterState = kFilterUnknown;
}

void TMemData::AppendBlock(TBlockHeader* block, int usedCount) {
  if (!block || usedCount < 0 || usedCount > block->itemCount) throw EAssertionFailed("AppendBlock: bad block");
  if (usedCount == 0) {
    blocks_.FreeBlock(block);
    return;
  }
  int order = last_ ? last_->order + 1 : 1 + releasedCount_ - recNoOffset_;
  for (int i = 0; i < usedCount; ++i) {
    TItemHeader* item = blocks_.ItemAt(block, static_cast<size_t>(i));
    Link(item, true);
    item->order = order++;
  }
  for (int i = usedCount; i < block->itemCount; ++i) blocks_.FreeItem(blocks_.ItemAt(block, static_cast<size_t>(i)));
  recordCount_ += usedCount;
  InvalidateRecNoCache();
}

void TMemData::PrependBlock(TBlockHeader* block, int usedCount) {
  if (!block || usedCount < 0 || usedCount > block->itemCount) throw EAssertionFailed("PrependBlock: bad block");
  if (usedCount == 0) {
    blocks_.FreeBlock(block);
    return;
  }
  int order = first_ ? first_->order - 1 : 1 - recNoOffset_;
  for (int i = 0; i < usedCount; ++i) {
    TItemHeader* item = blocks_.ItemAt(block, static_cast<size_t>(i));
    Link(item, false);
    item->order = order--;
  }
  for (int i = usedCount; i < block->itemCount; ++i) blocks_.FreeItem(blocks_.ItemAt(block, static_cast<size_t>(i)));
  recordCount_ += usedCount;
  recNoOffset_ = 1 - first_->order;
  InvalidateRecNoCache();
}

TItemHeader* TMemData::AppendRecord(const uint8_t* recBuf) {
  TItemHeader* item = blocks_.AllocItem();
  blocks_.PutRecord(recBuf, item);
  item->order = last_ ? last_->order + 1 : 1 + releasedCount_ - recNoOffset_;
  Link(item, true);
  ++recordCount_;
  InvalidateRecNoCache();
  return item;
}

TBlockHeader* TMemData::ReleaseRecordsForReuse(size_t itemCount) {
  // The values go first: heap items and blobs the records refer to are
  // released one by one, since the heap itself stays in use.
  for (TItemHeader* item = first_; item; item = item->next) FreeComplexFields(TBlockManager::RecordOf(item), true);
  if (last_) releasedCount_ = last_->order + recNoOffset_;
  first_ = last_ = current_ = nullptr;
  recordCount_ = 0;
  InvalidateRecNoCache();
  // Before the first of the records to come, not at the end of them all.
  bof_ = true;
  eof_ = false;

  TBlockHeader* block = blocks_.FirstBlock();
  if (blocks_.BlockCount() != 1 || block->itemCount != itemCount) {
    blocks_.FreeAllBlocks();
    return nullptr;
  }
  blocks_.ClearFreeList();
  for (size_t i = 0; i < itemCount; ++i) {
    TItemHeader* item = blocks_.ItemAt(block, i);
    std::memset(item, 0, blocks_.ItemStride());
    item->block = block;
    item->allocMark = kItemUsed;
    item->updateAction = kUpdateActionNone;
  }
  block->usedItems = block->itemCount;
  return block;
}

void TMemData::MergeSorted(TItemHeader* firstAdded) {
  if (sortColumns_.empty() || !firstAdded) return;
  std::vector<TItemHeader*> items;
  items.reserve(static_cast<size_t>(recordCount_));
  size_t split = 0;
  for (TItemHeader* item = first_; item; item = item->next) {
    if (item == firstAdded) split = items.size();
    items.push_back(item);
  }
  auto less = [this](const TItemHeader* a, const TItemHeader* b) {
    return CompareRecords(*this, sortColumns_, TBlockManager::RecordOf(a), TBlockManager::RecordOf(b)) < 0;
  };
  // The records already stored are in order: only the new ones are sorted.
  std::stable_sort(items.begin() + static_cast<std::ptrdiff_t>(split), items.end(), less);
  std::inplace_merge(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(split), items.end(), less);
  const int firstOrder = first_->order;
  first_ = last_ = nullptr;
  int order = firstOrder;
  for (TItemHeader* item : items) {
    const uint8_t state = item->filterState;
    Link(item, true);
    item->filterState = state;
    item->order = order++;
  }
  InvalidateRecNoCache();
}

// --- TMemData: navigation ----------------------------------------------------

void TMemData::SetToBegin() {
  current_ = nullptr;
  bof_ = true;
  if (last_) eof_ = false;
}

void TMemData::SetToEnd() {
  current_ = nullptr;
  eof_ = true;
  if (first_) bof_ = false;
}

void TMemData::StepNextRecord(uint8_t* recBuf) {
  if (Eof()) return;
  TItemHeader* item;
  if (Bof()) {
    bof_ = false;
    item = first_;
  } else {
    item = current_ ? current_->next : first_;
  }
  while (item && !IsItemVisible(item)) item = item->next;
  current_ = item;
  if (!item) {
    eof_ = true;
    return;
  }
  if (recBuf) GetRecord(recBuf);
}

void TMemData::StepPriorRecord(uint8_t* recBuf) {
  if (Bof()) return;
  TItemHeader* item;
  if (Eof()) {
    eof_ = false;
    item = last_;
  } else {
    item = current_ ? current_->prev : last_;
  }
  while (item && !IsItemVisible(item)) item = item->prev;
  current_ = item;
  if (!item) {
    bof_ = true;
    return;
  }
  if (recBuf) GetRecord(recBuf);
}

void TMemData::GetRecord(uint8_t* recBuf) {
  if (!current_ || !recBuf) return;
  if (!IsItemVisible(current_)) {
    StepNextRecord(recBuf);
    return;
  }
  blocks_.GetRecord(current_, recBuf);
}

int TMemData::RecNo() const { return current_ ? RecNoOf(current_) : 0; }

void TMemData::GoToRecNo(int n) {
  if (n <= 0 || !first_) return;
  // The cache holds the list in order; it is built on demand when the
  // numbers run 1 .. RecordCount, and dropped whenever the list changes.
  if (recNoCache_.empty() && n <= recordCount_ && RecNoOf(first_) == 1 && RecNoOf(last_) == recordCount_) {
    recNoCache_.reserve(static_cast<size_t>(recordCount_));
    for (TItemHeader* item = first_; item; item = item->next) recNoCache_.push_back(item);
    if (recNoCache_.size() != static_cast<size_t>(recordCount_)) InvalidateRecNoCache();
  }
  if (!recNoCache_.empty() && static_cast<size_t>(n) <= recNoCache_.size()) {
    current_ = recNoCache_[static_cast<size_t>(n) - 1];
    bof_ = eof_ = false;
    return;
  }

  // Walk from the nearest of the first, the last and the current item.
  auto distance = [n](int recNo) { return recNo > n ? static_cast<long>(recNo) - n : static_cast<long>(n) - recNo; };
  TItemHeader* item = first_;
  if (distance(RecNoOf(last_)) < distance(RecNoOf(item))) item = last_;
  if (current_ && distance(RecNoOf(current_)) < distance(RecNoOf(item))) item = current_;
  const bool forward = RecNoOf(item) < n;
  while (RecNoOf(item) != n) {
    TItemHeader* next = forward ? item->next : item->prev;
    if (!next && forward && Fetch()) next = item->next;
    if (!next) return;  // there is no record n
    item = next;
  }
  current_ = item;
  bof_ = eof_ = false;
}

// --- TMemData: sorting -------------------------------------------------------

void TMemData::SetIndexFieldNames(const std::string& order) {
  if (order == indexFieldNames_) return;
  if (Active()) {
    std::vector<TSortColumn> columns = ParseSortOrder(order, Fields(), defaultSortType_);  // raises before any change
    indexFieldNames_ = order;
    sortColumns_ = std::move(columns);
    SortItems();
  } else {
    indexFieldNames_ = order;
    sortColumns_.clear();
  }
}

void TMemData::SortItems() {
  sortColumns_ = ParseSortOrder(indexFieldNames_, Fields(), defaultSortType_);
  if (sortColumns_.empty() || !first_) return;
  std::vector<TItemHeader*> items;
  items.reserve(static_cast<size_t>(recordCount_));
  for (TItemHeader* item = first_; item; item = item->next) items.push_back(item);
  std::stable_sort(items.begin(), items.end(), [this](const TItemHeader* a, const TItemHeader* b) {
    return CompareRecords(*this, sortColumns_, TBlockManager::RecordOf(a), TBlockManager::RecordOf(b)) < 0;
  });
  first_ = last_ = nullptr;
  int order = 1;
  for (TItemHeader* item : items) {
    const uint8_t state = item->filterState;
    Link(item, true);
    item->filterState = state;
    item->order = order++;
  }
  recNoOffset_ = 0;
  InvalidateRecNoCache();
}

}  // namespace da
