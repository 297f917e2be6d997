// Test support for the extraction tests: an ExtractJob over files whose
// signed blocks the test holds, and the product every test extracts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <functional>

#include "extraction/chunk_writer.h"
#include "manifest/extract_job.h"
#include "payload/block.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/signed_blocks.h"

const char kProductCode[] = "{8E5A2F4C-1B3D-4A6E-9C7F-0D2E4B6A8C1F}";
const char kProductName[] = "Contoso Demo";

// Content of a given size whose bytes depend on a seed, so that a file that
// received another file's bytes, or shifted ones, compares unequal.
inline std::vector<uint8_t> Content(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; i++) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return data;
}

// One file block as a test wants it: the content's signed block, or
// anything else in its place.
using BlockMaker = std::function<std::vector<uint8_t>(uint32_t id, const std::vector<uint8_t>&)>;

inline std::vector<uint8_t> GenuineBlock(uint32_t id, const std::vector<uint8_t>& content) {
  return SignedBlock(FILE_BLOCK_KIND_BYTES, id, content);
}

// A job over files whose blocks (ids 1, 2, ... in file order, made by
// makeBlock) lie in one payload source in memory (with flags) that the test owns; any
// handle still open and the job's stream are released at the end.
class TestJob {
 public:
  explicit TestJob(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files,
                   const BlockMaker& makeBlock = GenuineBlock,
                   uint32_t flags = SOURCE_COMPRESSED | SOURCE_SIGNED) {
    for (size_t i = 0; i < files.size(); i++) {
      contents_.push_back(files[i].second);
      std::vector<uint8_t> block = makeBlock(static_cast<uint32_t>(i + 1), files[i].second);
      region_.insert(region_.end(), block.begin(), block.end());
    }
    source_ = {nullptr, region_.data(), static_cast<uint32_t>(region_.size()), nullptr, 0, flags,
               kDevelopmentKey};
    sources_ = {&source_, 1};
    items_.resize(files.size());
    for (size_t i = 0; i < files.size(); i++) {
      ExtractItem& item = items_[i];
      memset(&item, 0, sizeof item);
      snprintf(item.name, sizeof item.name, "%s", files[i].first.c_str());
      EXPECT_EQ(FindBlockPlace(&source_, FILE_BLOCK_KIND, static_cast<uint32_t>(i + 1),
                               &item.place).code,
                0u);
    }
    job_.items = items_.data();
    job_.count = static_cast<int32_t>(items_.size());
    job_.current = -1;
    job_.sources = &sources_;
  }
  ~TestJob() {
    for (ExtractItem& item : items_)
      if (item.handle && fake::FindHandle(item.handle)) CloseHandle(item.handle);
    CloseChunkWriter(&writer_);
  }
  TestJob(const TestJob&) = delete;
  TestJob& operator=(const TestJob&) = delete;

  ExtractJob* job() { return &job_; }
  ChunkWriter* writer() { return &writer_; }
  ExtractItem& item(size_t i) { return items_[i]; }
  const std::vector<uint8_t>& content(size_t i) const { return contents_[i]; }
  const PayloadSource* source() const { return &source_; }

 private:
  std::vector<std::vector<uint8_t>> contents_;
  std::vector<uint8_t> region_;
  PayloadSource source_{};
  PayloadSources sources_{};
  std::vector<ExtractItem> items_;
  ExtractJob job_{};
  ChunkWriter writer_{};
};
