// The kind letter of each protocol type number.
#include "veltro/binding.h"

namespace veltro::db {

char typeLetter(int type) {
  switch (type) {
    case 0: case 2: case 3: case 4: case 5: case 8: case 9: case 13: case 246:
      return 'N';
    case 1:
      return 'L';
    case 16:  // BIT: its bytes read as an unsigned number
      return 'N';
    case 7:
      return 'T';
    case 10:
      return 'D';
    case 11: case 12: case 253: case 254:
      return 'C';
    case 250: case 251: case 252:
      return 'M';
    default:
      return 'U';
  }
}

}  // namespace veltro::db
