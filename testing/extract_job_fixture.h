// Test support for the extraction tests: an ExtractJob over files held by the
// test, and the product every test extracts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "manifest/extract_job.h"
#include "platform/fake/fake.h"

const char kProductCode[] = "{8E5A2F4C-1B3D-4A6E-9C7F-0D2E4B6A8C1F}";
const char kProductName[] = "Contoso Demo";

// Content of a given size whose bytes depend on a seed, so that a file that
// received another file's bytes, or shifted ones, compares unequal.
inline std::vector<uint8_t> Content(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; i++) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return data;
}

// A job over items the test owns; any handle still open at the end is closed.
class TestJob {
 public:
  explicit TestJob(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    for (const auto& file : files) contents_.push_back(file.second);
    items_.resize(files.size());
    for (size_t i = 0; i < files.size(); i++) {
      ExtractItem& item = items_[i];
      memset(&item, 0, sizeof item);
      snprintf(item.name, sizeof item.name, "%s", files[i].first.c_str());
      item.data = contents_[i].data();
      item.size = static_cast<uint32_t>(contents_[i].size());
    }
    job_.items = items_.data();
    job_.count = static_cast<int32_t>(items_.size());
    job_.current = -1;
    job_.chunkSize = EXTRACT_CHUNK_SIZE;
  }
  ~TestJob() {
    for (ExtractItem& item : items_)
      if (item.handle && fake::FindHandle(item.handle)) CloseHandle(item.handle);
  }

  ExtractJob* job() { return &job_; }
  ExtractItem& item(size_t i) { return items_[i]; }
  const std::vector<uint8_t>& content(size_t i) const { return contents_[i]; }

 private:
  std::vector<std::vector<uint8_t>> contents_;
  std::vector<ExtractItem> items_;
  ExtractJob job_{};
};
