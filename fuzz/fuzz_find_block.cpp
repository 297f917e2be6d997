// FindBlock on arbitrary regions. The first byte chooses the source flags
// (bits 0-1), the wanted kind (bit 2: file, else manifest) and, for a file,
// the id (999 + the bits above); the rest is the region, read in place from
// libFuzzer's exactly sized buffer.
//
// FindBlock decodes through the block stream into one buffer; the same block
// is then decoded slice by slice (OpenBlockStream, ReadBlockSlice), and the
// region is searched once more as a file read at offsets: all three must
// agree on the status and the content.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/block.h"
#include "payload/block_stream.h"
#include "platform/fake/fake.h"
#include "platform/fake/fake_files.h"
#include "testing/development_key.h"

namespace {

// Decodes the block at place slice by slice: its status, and its content
// appended to *content.
Status DecodeSlices(const PayloadSource* source, const BlockPlace& place,
                    std::vector<uint8_t>* content) {
  BlockStream stream;
  Status status = OpenBlockStream(&stream, source, place);
  bool ended = false;
  while (status.code == 0 && !ended) {
    const uint8_t* slice = nullptr;
    uint32_t size = 0;
    status = ReadBlockSlice(&stream, &slice, &size, &ended);
    if (size > BLOCK_CONTENT_SLICE || (status.code != 0 && size != 0)) abort();
    if (status.code == 0) content->insert(content->end(), slice, slice + size);
  }
  CloseBlockStream(&stream);
  return status;
}

bool Same(Status a, Status b) { return a.code == b.code && a.location == b.location; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > UINT32_MAX) return 0;
  fake::Reset();
  const uint8_t mode = data[0];
  PayloadSource source = MemoryRegion(data + 1, static_cast<uint32_t>(size - 1));
  source.flags = mode & 3u;
  source.key = kDevelopmentKey;
  const bool file = (mode & 4) != 0;
  const GUID& kind = file ? FILE_BLOCK_KIND : MANIFEST_BLOCK_KIND;
  const uint32_t id = file ? 999u + (mode >> 3) : 0u;
  uint8_t* content = nullptr;
  uint32_t contentSize = 0;
  Status status = FindBlock(&source, kind, id, &content, &contentSize);
  // Its promises: content only on success, nothing else left allocated.
  if (status.code == 0) {
    if (!content) abort();
  } else if (content || contentSize) {
    abort();
  }
  if (fake::W().memory.liveAllocations != (status.code == 0 ? 1u : 0u)) abort();

  // The same block slice by slice.
  BlockPlace place = {};
  if (FindBlockPlace(&source, kind, id, &place).code == 0) {
    std::vector<uint8_t> slices;
    if (!Same(DecodeSlices(&source, place, &slices), status)) abort();
    if (status.code == 0 &&
        (slices.size() != contentSize || (contentSize && memcmp(slices.data(), content, contentSize))))
      abort();
  }

  // The same region as the own file, read at offsets.
  fake::AddFolder("C:\\p");
  fake::AddFile("C:\\p\\setup.exe", std::vector<uint8_t>(data + 1, data + size));
  HANDLE handle = CreateFileA("C:\\p\\setup.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) abort();
  PayloadSource inFile = source;
  inFile.file = handle;
  inFile.data = nullptr;
  uint8_t* read = nullptr;
  uint32_t readSize = 0;
  if (!Same(FindBlock(&inFile, kind, id, &read, &readSize), status)) abort();
  if (readSize != contentSize || (contentSize && memcmp(read, content, contentSize))) abort();
  LocalFree(read);
  CloseHandle(handle);
  LocalFree(content);
  return 0;
}
