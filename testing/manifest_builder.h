// Manifests and payload sources for the manifest tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload_source.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"

namespace manifest_test {

struct Entry {
  uint32_t key;
  std::string text;  // UTF-8; stored as UTF-16LE with a terminating zero
};

inline void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// One entry with a raw text part and a textBytes field that may lie.
inline void AppendRawEntry(std::vector<uint8_t>& out, uint32_t key, uint32_t textBytes,
                           const std::vector<uint8_t>& text) {
  AppendU32(out, key);
  AppendU32(out, textBytes);
  out.insert(out.end(), text.begin(), text.end());
}

inline std::vector<uint8_t> Utf16Bytes(const std::string& utf8) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : fake::Utf16(utf8) + u'\0') {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

inline std::vector<uint8_t> ManifestBytes(const std::vector<Entry>& entries) {
  std::vector<uint8_t> out;
  for (const Entry& entry : entries) {
    std::vector<uint8_t> text = Utf16Bytes(entry.text);
    AppendRawEntry(out, entry.key, static_cast<uint32_t>(text.size()), text);
  }
  return out;
}

// Payload sources for the life of the object, as the walk, the selection and
// the extraction list take them (list()); signed ones are checked with the
// development key. The buffers belong to the object, not to the allocator the
// fake counts.
class Sources {
 public:
  struct Region {
    std::vector<uint8_t> data;
    std::vector<uint8_t> manifest;
    uint32_t flags = 0;
  };

  explicit Sources(std::vector<Region> regions) : regions_(std::move(regions)) {
    for (Region& region : regions_) {
      PayloadSource source = {};
      source.data = region.data.data();
      source.size = static_cast<uint32_t>(region.data.size());
      source.manifest = region.manifest.empty() ? nullptr : region.manifest.data();
      source.manifestSize = static_cast<uint32_t>(region.manifest.size());
      source.flags = region.flags;
      source.key = kDevelopmentKey;
      sources_.push_back(source);
    }
    list_ = {sources_.data(), static_cast<uint32_t>(sources_.size())};
  }
  // Only manifests: the walk and the selection need nothing else.
  static Sources OfManifests(const std::vector<std::vector<uint8_t>>& manifests) {
    std::vector<Region> regions;
    for (const auto& manifest : manifests) regions.push_back(Region{{}, manifest, 0});
    return Sources(std::move(regions));
  }
  Sources(const Sources&) = delete;
  Sources& operator=(const Sources&) = delete;

  const PayloadSources* list() const { return &list_; }

 private:
  std::vector<Region> regions_;
  std::vector<PayloadSource> sources_;
  PayloadSources list_ = {};
};

}  // namespace manifest_test
