// Writes the seed corpus of the fuzz targets:
//   fuzz_corpus_maker OUTPUT_DIR
// makes OUTPUT_DIR/find_block/* and OUTPUT_DIR/load_payload_sources/*: real
// payloads (signed with the development key) and signed PE images.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "payload/block_format.h"
#include "testing/payload_fixture.h"
#include "testing/signed_image.h"
#include "tools/stubpack/payload_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool Write(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_corpus_maker OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  namespace pw = payload_writer;
  const Bytes payload = MakePayload({{1000, "x64\\1033;1031\\{P}\\Product", Text("package bytes")},
                                     {1001, "cab\\1000\\main.cab", Text("cabinet bytes")}});
  const Bytes small = MakePayload({{7, "x64\\1033\\{Q}\\Q", Text("q")}});
  const Bytes content = Text("raw block content");
  const Bytes plain = Cat(pw::MakeBlock(MANIFEST_BLOCK_KIND_BYTES, 0, content, {}),
                          pw::MakeBlock(FILE_BLOCK_KIND_BYTES, 1000, content, Text("sig")));
  const Bytes zlibOnly = Cat(pw::MakeBlock(MANIFEST_BLOCK_KIND_BYTES, 0, pw::Compress(content), {}),
                             pw::MakeBlock(FILE_BLOCK_KIND_BYTES, 1000, pw::Compress(content), {}));
  const Bytes dataless =
      Cat(payload, pw::MakeBlock(FILE_BLOCK_KIND_BYTES, 1000, {}, Text("twelve bytes")));

  // Mode byte: flags in bits 0-1, file kind in bit 2, id 999 + bits 3-7.
  const std::vector<std::pair<std::string, Bytes>> findBlock = {
      {"manifest", Cat({3}, payload)},
      {"file_1000", Cat({3 | 4 | 1 << 3}, payload)},
      {"file_1001", Cat({3 | 4 | 2 << 3}, payload)},
      {"file_missing", Cat({3 | 4 | 9 << 3}, payload)},
      {"plain_file", Cat({0 | 4 | 1 << 3}, plain)},
      {"plain_manifest", Cat({0}, plain)},
      {"zlib_unsigned", Cat({1 | 4 | 1 << 3}, zlibOnly)},
      {"dataless_file", Cat({3 | 4 | 1 << 3}, dataless)},
  };
  const std::vector<std::pair<std::string, Bytes>> loadSources = {
      {"unsigned_appended", MakePeImage({}, payload)},
      {"signed_appended", MakePeImage(MakeSignedData({{}}), payload)},
      {"extension_one", MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, small}}}), {})},
      {"extension_two_certificates",
       MakePeImage(MakeSignedData(
                       {{{PAYLOAD_EXTENSION_OID, false, small}},
                        {{"2.5.29.19", true, {0x30, 0}}, {PAYLOAD_EXTENSION_OID, false, small}}}),
                   {})},
      {"extension_critical",
       MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, true, small}}}), payload)},
      {"extension_without_manifest",
       MakePeImage(MakeSignedData({{{PAYLOAD_EXTENSION_OID, false, Text("no blocks")}}}), {})},
      {"not_pe", Cat(Text("MZ but nothing else"), payload)},
  };
  bool ok = true;
  for (const auto& seed : findBlock) ok &= Write(dir + "/find_block/" + seed.first, seed.second);
  for (const auto& seed : loadSources)
    ok &= Write(dir + "/load_payload_sources/" + seed.first, seed.second);
  if (!ok) fprintf(stderr, "fuzz_corpus_maker: cannot write to %s\n", dir.c_str());
  return ok ? 0 : 1;
}
