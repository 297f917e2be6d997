#include "tools/stubpack/inspect.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "manifest/extraction_list.h"
#include "manifest/manifest_fields.h"
#include "manifest/manifest_walk.h"
#include "manifest/package_select.h"
#include "manifest/plain_file_name.h"
#include "payload/block.h"
#include "payload/block_stream.h"
#include "payload/sources.h"
#include "payload/verify_signature.h"
#include "tools/stubpack/attach.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/image_digest.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/launcher_key.h"

namespace {

// Decodes an item's block the way the launcher streams it while writing,
// writing nothing: true, with the content's size, when it decodes and
// verifies.
bool DecodedSize(const PayloadSources* sources, const ExtractItem& item, uint32_t* size) {
  *size = 0;
  BlockStream stream;
  Status status = OpenBlockStream(&stream, &sources->items[item.sourceIndex], item.place);
  for (bool ended = false; status.code == 0 && !ended;) {
    const uint8_t* slice = nullptr;
    uint32_t sliceSize = 0;
    status = ReadBlockSlice(&stream, &slice, &sliceSize, &ended);
    *size += sliceSize;
  }
  CloseBlockStream(&stream);
  return status.code == 0;
}

// Appends printf-style text, bounded per line.
void Say(std::string* text, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  *text += line;
}

std::string StatusText(Status s) {
  const char* meaning = "error";
  switch (s.code) {
    case 0:
      meaning = "ok";
      break;
    case ERROR_NOT_FOUND:
      meaning = "not found";
      break;
    case ERROR_INVALID_DATA:
      meaning = "bad compressed data";
      break;
    case ERROR_FILE_CORRUPT:
      meaning = "BAD SIGNATURE";
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
      meaning = "out of memory";
      break;
    case static_cast<uint32_t>(NTE_BAD_KEY):
      meaning = "verification key unusable";
      break;
    case static_cast<uint32_t>(E_INVALIDARG):
      meaning = "signature data rejected";
      break;
  }
  if (s.location == LOC_MANIFEST_NO_DIGEST || s.location == LOC_FILE_NO_DIGEST)
    meaning = "error: SHA-256 cannot be computed, the signature was not checked";
  char out[96];
  snprintf(out, sizeof out, "%s (status %" PRIu32 " at %" PRIu32 ")", meaning, s.code, s.location);
  return out;
}

struct Entry {
  uint32_t source;
  uint32_t key;
  std::string text;
};

int CollectEntry(uint32_t sourceIndex, uint32_t key, const char* text, void* context) {
  static_cast<std::vector<Entry>*>(context)->push_back({sourceIndex, key, text});
  return 1;
}

// The type of an entry as the launcher's selection reads it.
std::string EntryKind(const std::string& text) {
  size_t first = text.find('\\');
  std::string type = text.substr(0, first);
  for (char& c : type) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (type == "cab") return "cabinet";
  size_t fields = 1;
  for (char c : text) fields += c == '\\';
  return fields >= 4 ? "package" : "unreadable";
}

// Why the launcher refuses the name an entry gives a file or folder (the
// product code of a package entry, the file name of a cabinet entry), read
// with the launcher's own field reader and checker; empty when it does not.
std::string NameRefusal(const std::string& text) {
  char fields[4][MANIFEST_FIELD_SIZE];
  char* const pointers[] = {fields[0], fields[1], fields[2], fields[3]};
  std::string kind = EntryKind(text);
  bool cabinet = kind == "cabinet";
  if (!cabinet && kind != "package") return "";
  if (!ReadManifestFields(text.c_str(), pointers, cabinet ? 3 : 4)) return "";
  const char* fault = FileNameFault(fields[2]);
  if (!fault) return "";
  return std::string(cabinet ? "its file name \"" : "its product code \"") + fields[2] + "\" " +
         fault + ": the launcher stops (text 101) when it chooses " +
         (cabinet ? "a package of this cabinet" : "this package");
}

// Orders file names as the launcher compares them (SameFileName).
struct FileNameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                    reinterpret_cast<const unsigned char*>(b.c_str())) < 0;
  }
};

// For each package (source, key) whose files the launcher would refuse
// because two of them have one name, the first name it meets twice. The
// files are collected as the launcher collects them: "main.msi", then in
// manifest order each cabinet of the same source once per owner piece naming
// the package; names the launcher refuses on their own are left out. One walk
// over the entries, however many there are.
std::map<std::pair<uint32_t, uint32_t>, std::string> RepeatedFileNames(
    const std::vector<Entry>& entries) {
  std::map<std::pair<uint32_t, uint32_t>, std::set<std::string, FileNameLess>> names;
  std::map<std::pair<uint32_t, uint32_t>, std::string> repeated;
  char type[MANIFEST_FIELD_SIZE], owners[MANIFEST_FIELD_SIZE], name[MANIFEST_FIELD_SIZE];
  char* const fields[] = {type, owners, name};
  for (const Entry& e : entries) {
    if (!ReadManifestFields(e.text.c_str(), fields, 3) ||
        _mbsicmp(reinterpret_cast<const unsigned char*>(type),
                 reinterpret_cast<const unsigned char*>("cab")) != 0 ||
        FileNameFault(name))
      continue;
    for (const char* piece = owners; piece; piece = NextListPiece(piece)) {
      unsigned owner;
      if (sscanf(piece, "%u", &owner) != 1) continue;
      std::pair<uint32_t, uint32_t> package(e.source, owner);
      std::set<std::string, FileNameLess>& files = names[package];
      if (files.empty()) files.insert("main.msi");
      if (!files.insert(name).second && !repeated.count(package)) repeated[package] = name;
    }
  }
  return repeated;
}

int CollectBlock(const BlockPlace* block, void* context) {
  static_cast<std::vector<BlockPlace>*>(context)->push_back(*block);
  return 1;
}

// One block as the launcher decodes it.
struct DecodedBlock {
  Status status;
  uint32_t size;  // decoded size
  bool hidden;    // a block of the same kind and id behind it is found first
};

void ReportLayout(const std::vector<uint8_t>& image, std::string* text) {
  LauncherLayout layout;
  std::string error;
  if (!ReadLauncherLayout(image, &layout, &error)) {
    Say(text, "image:     %s\n", error.c_str());
    return;
  }
  if (layout.pe.hasCertificateTable)
    Say(text,
        "signature: Authenticode-signed (certificate table of %" PRIu32 " bytes at %" PRIu32
        ", PKCS#7 data %" PRIu32 " bytes)\n",
        layout.pe.tableSize, layout.pe.tableOffset, layout.pe.pkcs7Size);
  else
    Say(text, "signature: not signed\n");
  Say(text, "payload:   %s\n", DescribePlace(layout.place));
  switch (layout.place) {
    case PayloadPlace::InCertificateTable:
      Say(text,
          "strict:    Windows with the strict certificate-padding check (EnableCertPaddingCheck)"
          "\n           rejects this signature: the payload follows the PKCS#7 data. Pack with\n"
          "           --certificate-out where that check is in force.\n");
      break;
    case PayloadPlace::InCertificate:
      Say(text, "strict:    passes the strict certificate-padding check\n");
      break;
    case PayloadPlace::Appended:
      Say(text,
          "note:      signing this file now would put the signature behind the payload, where\n"
          "           the launcher no longer finds it: sign the bare launcher, then pack\n");
      break;
    default:
      break;
  }
}

// The time stamp, then the image digest it is part of (the key line follows
// the digest: a recipient checks the two together).
void ReportDigest(const std::vector<uint8_t>& image, std::string* text) {
  ImageDigest digest;
  std::string error;
  if (!ComputeImageDigest(image, &digest, &error)) return;  // ReportLayout said why
  time_t stamp = digest.timeStamp;
  char when[32] = "?";
  if (const struct tm* utc = gmtime(&stamp)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", utc);
  Say(text, "stamp:     %" PRIu32 " (%s UTC); a build with SOURCE_DATE_EPOCH=%" PRIu32 " has it\n",
      digest.timeStamp, when, digest.timeStamp);
  Say(text, "digest:    %s (image digest: the same for every stamped copy, signed or packed)\n",
      DigestHex(digest).c_str());
}

// True when the launcher chooses a package for some user locale. A package
// is chosen, if at all, for a locale equal to one of the language ids of the
// entries (any primary-language match is a full match of one of them) or
// for 1033, where the launcher falls back: trying those is trying all.
bool AnyLocaleChooses(const PayloadSources* sources, const std::vector<Entry>& entries) {
  std::set<uint32_t> locales = {1033};
  char fields[4][MANIFEST_FIELD_SIZE];
  char* const pointers[] = {fields[0], fields[1], fields[2], fields[3]};
  for (const Entry& e : entries) {
    if (!ReadManifestFields(e.text.c_str(), pointers, 4)) continue;
    for (const char* piece = fields[1]; piece; piece = NextListPiece(piece)) {
      unsigned id;
      if (sscanf(piece, "%u", &id) == 1) locales.insert(id & 0xFFFF);
    }
  }
  for (uint32_t locale : locales) {
    PackageMatch match{};
    if (SelectPackage(sources, locale, &match)) return true;
  }
  return false;
}

}  // namespace

int Inspect(const std::string& path, const InspectOptions& options, std::string* text) {
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error)) {
    Say(text, "%s\n", error.c_str());
    return 1;
  }
  if (image.size() > 0xFFFFFFFFu) {
    Say(text, "%s: 4 GiB or larger; the launcher cannot read itself\n", path.c_str());
    return 1;
  }
  bool ok = true;
  Say(text, "file:      %s, %zu bytes\n", path.c_str(), image.size());
  ReportLayout(image, text);
  ReportDigest(image, text);

  // The launcher checks blocks with the key in its key section: use that one.
  // Printed beside the digest: a recipient checks the digest against the
  // release's and the fingerprint against the publisher's.
  LauncherKey stamped;
  VerificationKey key = {nullptr, 0};
  if (!ReadLauncherKey(image, &stamped, &error)) {
    Say(text, "key:       %s; the launcher refuses every payload\n", error.c_str());
    ok = false;
  } else if (stamped.blob.empty()) {
    Say(text, "key:       no key: the launcher refuses every payload; stamp it first "
              "(stubpack stamp)\n");
    ok = false;
  } else {
    key = VerificationKey{stamped.blob.data(), static_cast<uint32_t>(stamped.blob.size())};
    Say(text, "key:       %s (fingerprint of the key stamped into the launcher)\n",
        KeyFingerprint(stamped.blob).c_str());
  }

  PayloadSources sources = {};
  const PayloadSource whole = MemoryRegion(image.data(), static_cast<uint32_t>(image.size()));
  Status loaded = LoadPayloadSources(&whole, key, &sources);
  Say(text, "load:      %s, %" PRIu32 " source(s)\n", StatusText(loaded).c_str(), sources.count);
  if (loaded.code != 0) ok = false;

  // Every block of every source, met in the launcher's own walk and decoded
  // once each. fileStatus keeps, per source and id, the status of the file
  // block a lookup of that id finds: the first one the walk meets.
  std::vector<std::map<uint32_t, Status>> fileStatus(sources.count);
  for (uint32_t i = 0; i < sources.count; i++) {
    const PayloadSource* source = &sources.items[i];
    Say(text, "\nsource %" PRIu32 ": %s, %" PRIu32 " bytes\n", i,
        source->ownsData ? "a certificate extension of the signature" : "the whole file",
        source->size);
    std::vector<BlockPlace> walked;  // the last block of the region first
    ForEachBlock(source, CollectBlock, &walked);
    if (walked.empty() || !walked.back().manifest)
      Say(text, "  the block chain does not walk back to a manifest block\n");
    std::vector<DecodedBlock> decoded(walked.size());
    std::set<std::pair<bool, uint32_t>> met;
    for (size_t w = 0; w < walked.size(); w++) {
      const BlockPlace& place = walked[w];
      uint8_t* content = nullptr;
      decoded[w].status = DecodeBlock(source, place, &content, &decoded[w].size);
      LocalFree(content);
      decoded[w].hidden = !met.insert({place.manifest, place.id}).second;
      if (!place.manifest && !decoded[w].hidden) fileStatus[i][place.id] = decoded[w].status;
    }
    Say(text, "  %-8s %6s %12s %12s %7s  %s\n", "block", "id", "stored", "decoded", "ratio",
        "state");
    for (size_t w = walked.size(); w-- > 0;) {  // in file order
      const BlockPlace& place = walked[w];
      const DecodedBlock& block = decoded[w];
      char ratio[16] = "-";
      if (block.status.code == 0 && block.size)
        snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * place.dataSize / block.size);
      Say(text, "  %-8s %6" PRIu32 " %12" PRIu32 " %12" PRIu32 " %7s  %s%s\n",
          place.manifest ? "manifest" : "file", place.id, place.dataSize, block.size, ratio,
          block.hidden ? "hidden by a later block with the same id"
                       : StatusText(block.status).c_str(),
          block.status.location == LOC_FILE_RAW ? ", stored without data (unverified)" : "");
    }
  }

  std::vector<Entry> entries;
  bool walked = ForEachManifestEntry(&sources, CollectEntry, &entries);
  Say(text, "\nmanifest entries%s\n", walked ? "" : " (the walk stopped at a malformed entry)");
  if (!walked) ok = false;
  std::map<std::pair<uint32_t, uint32_t>, std::string> repeated = RepeatedFileNames(entries);
  for (const Entry& e : entries) {
    auto found = fileStatus[e.source].find(e.key);
    Status status = found != fileStatus[e.source].end()
                        ? found->second
                        : Status{ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND};
    Say(text, "  source %" PRIu32 " key %-6" PRIu32 " %-10s %s\n", e.source, e.key,
        EntryKind(e.text).c_str(), e.text.c_str());
    if (status.code != 0 || status.location == LOC_FILE_RAW) {
      Say(text, "      its file block: %s%s\n", StatusText(status).c_str(),
          status.location == LOC_FILE_RAW ? ", stored without data (unverified)" : "");
      ok = false;
    }
    std::string refusal = NameRefusal(e.text);
    if (!refusal.empty()) {
      Say(text, "      %s\n", refusal.c_str());
      ok = false;
    }
    auto twice = repeated.find({e.source, e.key});
    if (EntryKind(e.text) == "package" && twice != repeated.end()) {
      Say(text,
          "      two of its files would be named \"%s\" (names compare without case): the "
          "launcher stops (text 101) when it chooses this package\n",
          twice->second.c_str());
      ok = false;
    }
  }

  if (loaded.code == 0 && !AnyLocaleChooses(&sources, entries)) {
    Say(text,
        "\nno locale: no user locale makes the launcher choose a package (none is an x64 "
        "package with a language id): it stops (text 101) on every system\n");
    ok = false;
  }

  if (options.hasLocale && loaded.code == 0) {
    Say(text, "\nlocale %" PRIu32 " (0x%04" PRIX32 ")\n", options.locale, options.locale);
    PackageMatch match{};
    if (!SelectPackage(&sources, options.locale, &match)) {
      Say(text, "  no x64 package fits this locale, nor 1033: the launcher stops (text 101)\n");
      ok = false;
    } else {
      Say(text, "  chosen:  key %" PRIu32 " of source %" PRIu32 ": %s, languages %s, %s \"%s\"%s\n",
          match.key, match.sourceIndex, match.architecture, match.languages, match.productCode,
          match.productName,
          match.lcid != options.locale ? " (no package for this locale: fell back to 1033)"
          : match.mode == 1            ? " (by primary language)"
                                       : "");
      ExtractJob job{};
      job.current = -1;
      bool built = BuildExtractionList(&sources, &match, &job);
      Say(text, "  writes to <Windows>\\Installer\\%s\\:\n", match.productCode);
      for (int32_t i = 0; i < job.count; i++) {
        uint32_t size = 0;
        bool decodes = DecodedSize(&sources, job.items[i], &size);
        Say(text, "    %-40s %12" PRIu32 " bytes%s\n", job.items[i].name, size,
            decodes ? "" : "  (cannot be decoded)");
        built = built && decodes;
      }
      LocalFree(job.items);
      if (!built) {
        Say(text, "  %s: the launcher stops (text 101)\n",
            FileNameFault(match.productCode)
                ? "its product code is refused (see above)"
                : "the files cannot all be decoded or a cabinet's name is refused (see above)");
        ok = false;
      }
    }
  }

  FreePayloadSources(&sources);
  Say(text, "\n%s\n",
      ok ? "result:    everything the launcher would use verifies"
         : "result:    PROBLEMS found (see above)");
  return ok ? 0 : 1;
}
