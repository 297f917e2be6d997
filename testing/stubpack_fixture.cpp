#include "testing/stubpack_fixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "manifest/manifest_walk.h"
#include "payload/block.h"
#include "payload/sources.h"
#include "payload/little_endian.h"
#include "payload/key_section.h"
#include "payload/pe_layout.h"
#include "testing/development_key.h"
#include "tools/stubpack/payload_writer.h"

ScratchDir::ScratchDir() {
  char templ[] = "/tmp/stubpack-test-XXXXXX";
  const char* made = mkdtemp(templ);
  if (!made) ADD_FAILURE() << "mkdtemp";
  path = made ? made : "/tmp";
}

ScratchDir::~ScratchDir() {
  static const char kPrefix[] = "/tmp/stubpack-test-";
  if (path.compare(0, sizeof kPrefix - 1, kPrefix) == 0) RunShell("rm -rf '" + path + "'");
}

int RunShell(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  std::string text;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& SampleDir() {
  static ScratchDir dir;
  static bool built = false;
  if (!built) {
    std::string output;
    int status = RunShell(
        std::string(STUBPACK_SOURCE_DIR) + "/examples/build-sample.sh " + dir.path, &output);
    if (status != 0) ADD_FAILURE() << "build-sample.sh failed:\n" << output;
    built = true;
  }
  return dir.path;
}

std::string DevPrivateKeyPath() {
  return std::string(STUBPACK_SOURCE_DIR) + "/keys/dev_private.pem";
}

std::vector<uint8_t> DevPublicKeyBlob() {
  std::string error;
  payload_writer::SigningKey key = payload_writer::LoadSigningKey(DevPrivateKeyPath(), &error);
  if (!key) ADD_FAILURE() << error;
  return key ? payload_writer::PublicKeyBlob(key.get()) : std::vector<uint8_t>{};
}

static void Put16(std::vector<uint8_t>& d, size_t at, uint16_t v) {
  d[at] = static_cast<uint8_t>(v);
  d[at + 1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> MakeTestLauncher(const std::vector<uint8_t>& keyBlob) {
  const uint32_t pe = 0x80, optional = pe + PE_OPTIONAL_HEADER,
                 sectionTable = optional + OPTIONAL_HEADER_FULL_SIZE;
  const uint32_t fileAlign = 0x200, sectionRva = 0x1000;
  const std::vector<uint8_t> code = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
  static_assert(KEY_SECTION_SIZE == 0x200, "the key section fills one file-alignment unit");

  std::vector<uint8_t> d(3 * fileAlign, 0);  // headers, code, key section
  d[0] = 'M';
  d[1] = 'Z';
  PutU32(&d[DOS_PE_OFFSET], pe);
  PutU32(&d[pe], PE_SIGNATURE);
  Put16(d, pe + PE_MACHINE, PE_MACHINE_AMD64);
  Put16(d, pe + PE_SECTION_COUNT, 2);
  Put16(d, pe + PE_OPTIONAL_HEADER_SIZE, OPTIONAL_HEADER_FULL_SIZE);
  Put16(d, pe + 22, 0x0022);  // executable, large address aware
  Put16(d, optional + OPTIONAL_MAGIC, PE32_PLUS_MAGIC);
  PutU32(&d[optional + 4], fileAlign);    // SizeOfCode
  PutU32(&d[optional + 16], sectionRva);  // entry point
  PutU32(&d[optional + 20], sectionRva);  // BaseOfCode
  PutU32(&d[optional + 24], 0x40000000);  // ImageBase 0x140000000, low half
  PutU32(&d[optional + 28], 0x1);
  PutU32(&d[optional + 32], 0x1000);     // SectionAlignment
  PutU32(&d[optional + 36], fileAlign);  // FileAlignment
  Put16(d, optional + 40, 6);            // OS version 6.0
  Put16(d, optional + 48, 6);            // subsystem version 6.0
  PutU32(&d[optional + 56], sectionRva + 0x2000);  // SizeOfImage: two pages of sections
  PutU32(&d[optional + OPTIONAL_SIZE_OF_HEADERS], fileAlign);
  Put16(d, optional + 68, 2);           // GUI subsystem
  Put16(d, optional + 70, 0x8160);      // ASLR, NX, high entropy, terminal server aware
  PutU32(&d[optional + 72], 0x100000);  // stack reserve
  PutU32(&d[optional + 80], 0x1000);    // stack commit
  PutU32(&d[optional + 88], 0x100000);  // heap reserve
  PutU32(&d[optional + 96], 0x1000);    // heap commit
  PutU32(&d[optional + OPTIONAL_DIRECTORY_COUNT], 16);
  struct {
    const char* name;
    uint32_t virtualSize, characteristics;
  } sections[2] = {{".text", static_cast<uint32_t>(code.size()), 0x60000020},  // code, execute, read
                   {KEY_SECTION_NAME, KEY_SECTION_SIZE, 0x40000040}};  // initialized data, read
  for (uint32_t i = 0; i < 2; i++) {
    const uint32_t header = sectionTable + i * SECTION_HEADER_SIZE;
    memcpy(&d[header], sections[i].name, strlen(sections[i].name));
    PutU32(&d[header + 8], sections[i].virtualSize);
    PutU32(&d[header + 12], sectionRva + i * 0x1000);
    PutU32(&d[header + SECTION_RAW_SIZE], fileAlign);
    PutU32(&d[header + SECTION_RAW_POINTER], fileAlign * (i + 1));
    PutU32(&d[header + 36], sections[i].characteristics);
  }
  memcpy(&d[fileAlign], code.data(), code.size());
  FillKeySection(&d[2 * fileAlign], keyBlob.empty() ? nullptr : keyBlob.data());
  return d;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

// A throwaway code-signing certificate and key, made once per test program.
static const ScratchDir& SigningDir() {
  static ScratchDir dir;
  static bool made = false;
  if (!made) {
    std::string output;
    int status = RunShell(
        "openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -subj "
        "'/CN=Stubpack Test Publisher' -keyout '" +
            dir.Path("sign.key") + "' -out '" + dir.Path("sign.crt") + "'",
        &output);
    if (status != 0) ADD_FAILURE() << "openssl req failed:\n" << output;
    made = true;
  }
  return dir;
}

bool Sign(const std::string& in, const std::string& out, const std::string& extraCertificate) {
  const ScratchDir& dir = SigningDir();
  std::string command = "osslsigncode sign -certs '" + dir.Path("sign.crt") + "' -key '" +
                        dir.Path("sign.key") + "' -h sha256";
  if (!extraCertificate.empty()) command += " -ac '" + extraCertificate + "'";
  command += " -in '" + in + "' -out '" + out + "'";
  std::string output;
  bool ok = RunShell(command, &output) == 0;
  if (!ok) ADD_FAILURE() << command << "\n" << output;
  return ok;
}

bool VerifySignature(const std::string& path, std::string* output) {
  const ScratchDir& dir = SigningDir();
  return RunShell("osslsigncode verify -CAfile '" + dir.Path("sign.crt") + "' -in '" + path + "'",
                  output) == 0;
}

namespace {
struct Collection {
  const PayloadSources* sources;
  LoadedPayload* loaded;
};

int Collect(uint32_t source, uint32_t key, const char* text, void* context) {
  auto* collection = static_cast<Collection*>(context);
  LoadedPayload::Entry entry{source, key, text, {}, {}};
  uint8_t* content = nullptr;
  uint32_t size = 0;
  entry.blockStatus =
      FindBlock(&collection->sources->items[source], FILE_BLOCK_KIND, key, &content, &size);
  if (content) entry.content.assign(content, content + size);
  LocalFree(content);
  collection->loaded->entries.push_back(entry);
  return 1;
}
}  // namespace

LoadedPayload LoadWithLauncherCode(const std::vector<uint8_t>& image) {
  LoadedPayload loaded{};
  PayloadSources sources = {};
  const PayloadSource whole = MemoryRegion(image.data(), static_cast<uint32_t>(image.size()));
  loaded.status = LoadPayloadSources(&whole, kDevelopmentKey, &sources);
  loaded.sourceCount = sources.count;
  for (uint32_t i = 0; i < sources.count; i++) loaded.sourceSizes.push_back(sources.items[i].size);
  if (loaded.status.code == 0) {
    Collection collection = {&sources, &loaded};
    EXPECT_TRUE(ForEachManifestEntry(&sources, Collect, &collection));
  }
  FreePayloadSources(&sources);
  return loaded;
}
