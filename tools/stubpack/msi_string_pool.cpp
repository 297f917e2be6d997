#include "tools/stubpack/msi_string_pool.h"

#include "payload/little_endian.h"
#include "tools/stubpack/compound_file.h"

namespace {

// The name under which a package stores a table's stream: the characters
// of [0-9A-Za-z._] packed two to a unit (one alone when the next is not
// one of them), after the table marker 0x4840.
std::u16string TableStreamName(const char* table) {
  auto code = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    return c == '.' ? 62 : c == '_' ? 63 : -1;
  };
  std::u16string name(1, u'\x4840');
  for (const char* p = table; *p; p++) {
    int first = code(p[0]);
    int second = p[1] ? code(p[1]) : -1;
    if (first < 0) {
      name += static_cast<char16_t>(static_cast<uint8_t>(*p));
    } else if (second < 0) {
      name += static_cast<char16_t>(0x4800 + first);
    } else {
      name += static_cast<char16_t>(0x3800 + first + (second << 6));
      p++;
    }
  }
  return name;
}

}  // namespace

bool ReadMsiStringPool(const std::vector<uint8_t>& data, MsiStringPool* pool) {
  *pool = MsiStringPool{};
  StreamPlace header, strings;
  std::string ignored;
  if (!FindRootStream(data, TableStreamName("_StringPool"), &header, &ignored) || header.size < 4)
    return false;
  // The header: the code page, its top bit marking 3-byte string references.
  size_t at = header.pieces[0];
  uint32_t value = GetU32(&data[at]);
  pool->codepage = value & 0x7FFFFFFF;
  pool->codepageOffset = at;
  if (FindRootStream(data, TableStreamName("_StringData"), &strings, &ignored)) {
    pool->text = StreamBytes(data, strings);
    pool->textPlace = strings;
  }
  return true;
}

bool HasNonAscii(const std::vector<uint8_t>& text) {
  for (uint8_t byte : text)
    if (byte >= 0x80) return true;
  return false;
}

namespace {

bool UndefinedIn1252(uint8_t byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

}  // namespace

bool HasBytesUndefinedIn1252(const std::vector<uint8_t>& text) {
  for (uint8_t byte : text)
    if (UndefinedIn1252(byte)) return true;
  return false;
}

void ReplaceBytesUndefinedIn1252(const MsiStringPool& pool, std::vector<uint8_t>* data) {
  const StreamPlace& place = pool.textPlace;
  size_t left = place.size;
  for (size_t at : place.pieces) {
    size_t n = left < place.pieceSize ? left : place.pieceSize;
    for (size_t k = 0; k < n; k++)
      if (UndefinedIn1252((*data)[at + k])) (*data)[at + k] = '?';
    left -= n;
  }
}
