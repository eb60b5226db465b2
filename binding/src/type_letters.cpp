// The kind letter of each protocol type.
#include "veltro/binding.h"

namespace veltro::db {

char typeLetter(int type, std::uint64_t length) {
  switch (static_cast<FieldType>(type)) {
    case FieldType::Tiny:
      return 'L';
    case FieldType::Bit:  // BIT(1) is a flag; wider, its bytes read as an unsigned number
      return length == 1 ? 'L' : 'N';
    case FieldType::Timestamp:
      return 'T';
    case FieldType::Date:
      return 'D';
    case FieldType::Time: case FieldType::DateTime: case FieldType::VarString: case FieldType::String:
      return 'C';
    case FieldType::MediumBlob: case FieldType::LongBlob: case FieldType::Blob:
      return 'M';
    default:
      return isNumeralType(type) ? 'N' : 'U';
  }
}

}  // namespace veltro::db
