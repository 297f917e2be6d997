#include "tools/stubpack/compound_file.h"

#include <algorithm>
#include <cstring>

#include "payload/little_endian.h"

namespace {

const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint32_t kEndOfChain = 0xFFFFFFFE;
const uint32_t kNoEntry = 0xFFFFFFFF;
const size_t kHeaderDifat = 109;
const size_t kEntrySize = 128;

// The file seen as sectors, with its allocation table read once.
struct Sectors {
  const std::vector<uint8_t>& data;
  size_t size = 0;  // sector size
  std::vector<uint32_t> fat;

  explicit Sectors(const std::vector<uint8_t>& d) : data(d) {}

  // File offset of sector s; false when the sector lies outside the file.
  bool Offset(uint32_t s, size_t* at) const {
    size_t start = (static_cast<size_t>(s) + 1) * size;
    if (start > data.size() || data.size() - start < size) return false;
    *at = start;
    return true;
  }

  // The offsets of the chain starting at first, in order; false on a chain
  // that leaves the table or the file, or loops.
  bool Chain(uint32_t first, std::vector<size_t>* offsets) const {
    offsets->clear();
    for (uint32_t s = first; s != kEndOfChain;) {
      size_t at;
      if (s >= fat.size() || offsets->size() > fat.size() || !Offset(s, &at)) return false;
      offsets->push_back(at);
      s = fat[s];
    }
    return true;
  }
};

bool Fail(std::string* error, const char* what) {
  *error = std::string("malformed compound file: ") + what;
  return false;
}

}  // namespace

bool IsCompoundFile(const std::vector<uint8_t>& data) {
  return data.size() >= 512 && memcmp(data.data(), kSignature, sizeof kSignature) == 0;
}

bool FindRootStream(const std::vector<uint8_t>& data, const std::u16string& name,
                    StreamPlace* place, std::string* error) {
  *place = StreamPlace{};
  if (!IsCompoundFile(data)) return Fail(error, "no signature");
  unsigned shift = GetU16(&data[0x1E]), miniShift = GetU16(&data[0x20]);
  if ((shift != 9 && shift != 12) || miniShift != 6) return Fail(error, "sector size");
  Sectors sectors(data);
  sectors.size = size_t{1} << shift;
  const size_t perSector = sectors.size / 4;

  // The allocation table's own sectors: 109 in the header, the rest in a
  // chain of DIFAT sectors whose last entry points to the next one.
  std::vector<uint32_t> fatSectors;
  uint32_t fatCount = GetU32(&data[0x2C]);
  if (fatCount > data.size() / sectors.size) return Fail(error, "allocation table size");
  for (size_t i = 0; i < kHeaderDifat && fatSectors.size() < fatCount; i++)
    fatSectors.push_back(GetU32(&data[0x4C + 4 * i]));
  for (uint32_t s = GetU32(&data[0x44]); fatSectors.size() < fatCount;) {
    size_t at;
    if (!sectors.Offset(s, &at)) return Fail(error, "allocation table list");
    for (size_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; i++)
      fatSectors.push_back(GetU32(&data[at + 4 * i]));
    s = GetU32(&data[at + 4 * (perSector - 1)]);
  }
  for (uint32_t s : fatSectors) {
    size_t at;
    if (!sectors.Offset(s, &at)) return Fail(error, "allocation table");
    for (size_t i = 0; i < perSector; i++) sectors.fat.push_back(GetU32(&data[at + 4 * i]));
  }

  std::vector<size_t> directory;
  if (!sectors.Chain(GetU32(&data[0x30]), &directory) || directory.empty())
    return Fail(error, "directory");
  const size_t perDirectorySector = sectors.size / kEntrySize;
  auto entryAt = [&](uint32_t index, size_t* at) {
    if (index / perDirectorySector >= directory.size()) return false;
    *at = directory[index / perDirectorySector] + (index % perDirectorySector) * kEntrySize;
    return true;
  };

  // The root's children form a tree through their left and right links.
  size_t root = directory[0];
  std::vector<uint32_t> pending = {GetU32(&data[root + 0x4C])};
  size_t found = 0;
  bool have = false;
  for (size_t visited = 0; !pending.empty() && !have; visited++) {
    uint32_t index = pending.back();
    pending.pop_back();
    if (index == kNoEntry) continue;
    size_t at;
    if (visited > directory.size() * perDirectorySector || !entryAt(index, &at))
      return Fail(error, "directory tree");
    size_t nameBytes = GetU16(&data[at + 0x40]);
    if (data[at + 0x42] == 2 && nameBytes == 2 * (name.size() + 1)) {
      bool same = true;
      for (size_t k = 0; k < name.size() && same; k++) same = GetU16(&data[at + 2 * k]) == name[k];
      if (same) {
        found = at;
        have = true;
      }
    }
    pending.push_back(GetU32(&data[at + 0x44]));
    pending.push_back(GetU32(&data[at + 0x48]));
  }
  if (!have) {
    *error = "no such stream";
    return false;
  }

  place->size = GetU32(&data[found + 0x78]);
  uint32_t first = GetU32(&data[found + 0x74]);
  if (place->size >= GetU32(&data[0x38])) {  // a stream of its own sectors
    place->pieceSize = sectors.size;
    if (!sectors.Chain(first, &place->pieces)) return Fail(error, "stream chain");
  } else {  // small streams live in the mini stream, in 64-byte pieces
    std::vector<size_t> miniFat, miniStream;
    if (!sectors.Chain(GetU32(&data[0x3C]), &miniFat) ||
        !sectors.Chain(GetU32(&data[root + 0x74]), &miniStream))
      return Fail(error, "mini stream");
    const size_t miniSize = size_t{1} << miniShift, perMini = sectors.size / miniSize;
    place->pieceSize = miniSize;
    size_t limit = miniFat.size() * perSector;
    for (uint32_t m = first; m != kEndOfChain;) {
      if (m >= limit || m / perMini >= miniStream.size() || place->pieces.size() > limit)
        return Fail(error, "mini stream chain");
      place->pieces.push_back(miniStream[m / perMini] + (m % perMini) * miniSize);
      m = GetU32(&data[miniFat[m / perSector] + 4 * (m % perSector)]);
    }
  }
  if (place->pieces.size() * place->pieceSize < place->size) return Fail(error, "stream size");
  return true;
}

std::vector<uint8_t> StreamBytes(const std::vector<uint8_t>& data, const StreamPlace& place) {
  std::vector<uint8_t> out;
  out.reserve(place.size);
  for (size_t at : place.pieces) {
    size_t n = std::min(place.pieceSize, place.size - out.size());
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (out.size() == place.size) break;
  }
  return out;
}
