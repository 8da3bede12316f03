#pragma once
// The numbering of value kinds shared by the driver, the record storage, the
// parameters and the prepared statements, and the dataset's field types.
// The numbers are fixed: they travel between layers as plain integers.

#include <cstdint>

namespace da {

// Internal data types. Kept as plain integer constants because layers pass
// them around as numbers (and 31 is deliberately unused).
using TDataType = uint16_t;
inline constexpr TDataType dtUnknown = 0;
inline constexpr TDataType dtString = 1;
inline constexpr TDataType dtInt8 = 2;
inline constexpr TDataType dtInt16 = 3;
inline constexpr TDataType dtInt32 = 4;
inline constexpr TDataType dtFloat = 5;
inline constexpr TDataType dtDate = 6;
inline constexpr TDataType dtTime = 7;
inline constexpr TDataType dtDateTime = 8;
inline constexpr TDataType dtUInt16 = 9;
inline constexpr TDataType dtBoolean = 10;
inline constexpr TDataType dtInt64 = 11;
inline constexpr TDataType dtCurrency = 12;
inline constexpr TDataType dtBlob = 13;
inline constexpr TDataType dtMemo = 14;
inline constexpr TDataType dtObject = 15;
inline constexpr TDataType dtReference = 16;
inline constexpr TDataType dtArray = 17;
inline constexpr TDataType dtTable = 18;
inline constexpr TDataType dtVariant = 19;
inline constexpr TDataType dtExtString = 20;
inline constexpr TDataType dtBytes = 21;
inline constexpr TDataType dtVarBytes = 22;
inline constexpr TDataType dtExtVarBytes = 23;
inline constexpr TDataType dtUInt32 = 24;
inline constexpr TDataType dtWideString = 25;
inline constexpr TDataType dtExtWideString = 26;
inline constexpr TDataType dtBCD = 27;
inline constexpr TDataType dtFmtBCD = 28;
inline constexpr TDataType dtGuid = 29;
inline constexpr TDataType dtWideMemo = 30;
inline constexpr TDataType dtCursor = 32;

// The dataset's field types, numbered from 0 in this order.
enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
};

// Parameter directions.
enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

}  // namespace da
