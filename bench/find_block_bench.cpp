// FindBlock (inflate into the growing buffer plus signature verification)
// against its floor: plain zlib inflate into a preallocated buffer plus
// SHA-256 of the same bytes. Three kinds of content, 1 MiB to 256 MiB.
//
// Runs on the host platform (LocalAlloc over malloc/realloc); the ratios are
// printed by scripts/bench.sh from this program's JSON output.
//
// FindBlock returns a new buffer on every call, the floor writes into one it
// keeps. With --allocator=fresh (the default) glibc gives large blocks back to
// the system when they are freed, so every FindBlock call pays for mapping and
// zeroing its output pages anew; with --allocator=warm the allocator keeps its
// memory, and both sides write into pages that are already there.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "payload/block.h"
#include "payload/block_format.h"
#include "tools/stubpack/payload_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum Kind { kIncompressible, kThreeToOne, kThousandToOne };
const char* const kKindNames[] = {"incompressible", "3:1", "1000:1"};

// Content of the given kind. 3:1 is text-like: symbols from a small skewed
// alphabet with repeats; 1000:1 is zeros (deflate's best is about 1030:1).
Bytes MakeContent(Kind kind, size_t size) {
  Bytes out(size, 0);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  if (kind == kIncompressible) {
    for (size_t i = 0; i < size; i += 8) {
      uint64_t v = next();
      for (size_t k = 0; k < 8 && i + k < size; k++)
        out[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  } else if (kind == kThreeToOne) {
    static const char alphabet[] = "eeeeettttaaoinshrdlu  ";
    for (size_t i = 0; i < size; i++) {
      uint64_t v = next();
      // Now and then repeat an earlier stretch, as text does.
      if (i > 256 && (v & 0xFF) < 35) {
        size_t back = 1 + ((v >> 8) & 255);
        size_t length = 3 + ((v >> 16) & 15);
        for (size_t k = 0; k < length && i < size; k++, i++) out[i] = out[i - back];
        i--;
      } else {
        out[i] = static_cast<uint8_t>(alphabet[(v >> 24) % (sizeof alphabet - 1)]);
      }
    }
  }
  return out;
}

// The development key, which the default build's launcher trusts.
EVP_PKEY* BenchSigningKey() {
  static payload_writer::SigningKey key = [] {
    std::string error;
    payload_writer::SigningKey loaded =
        payload_writer::LoadSigningKey(MSISTUB_DEV_PRIVATE_KEY, &error);
    if (!loaded) fprintf(stderr, "%s\n", error.c_str());
    return loaded;
  }();
  return key.get();
}

struct Case {
  Kind kind;
  size_t size;
  Bytes region;  // one signed file block, id 1
  uint32_t dataSize;
  double ratio;  // content size / compressed size
};

std::unique_ptr<Case> MakeCase(Kind kind, size_t size) {
  auto c = std::make_unique<Case>();
  c->kind = kind;
  c->size = size;
  Bytes content = MakeContent(kind, size);
  // Incompressible data would be stored anyway; level 1 makes the same
  // stored blocks much faster than level 9.
  Bytes data = payload_writer::Compress(content, kind == kIncompressible ? 1 : 6);
  Bytes signature = payload_writer::Sign(BenchSigningKey(), content);
  c->dataSize = static_cast<uint32_t>(data.size());
  c->ratio = static_cast<double>(size) / data.size();
  c->region = payload_writer::MakeBlock(FILE_BLOCK_KIND_BYTES, 1, data, signature);
  return c;
}

void FindBlockBench(benchmark::State& state, const Case* c) {
  PayloadSource source =
      MemoryRegion(c->region.data(), static_cast<uint32_t>(c->region.size()));
  source.flags = SOURCE_COMPRESSED | SOURCE_SIGNED;
  source.key = kCompiledVerificationKey;
  for (auto _ : state) {
    uint8_t* content = nullptr;
    uint32_t size = 0;
    Status status = FindBlock(&source, FILE_BLOCK_KIND, 1, &content, &size);
    if (status.code != 0 || size != c->size) {
      state.SkipWithError("FindBlock failed");
      break;
    }
    benchmark::DoNotOptimize(content[size - 1]);
    LocalFree(content);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->size));
  state.counters["ratio"] = c->ratio;
}

void FloorBench(benchmark::State& state, const Case* c) {
  Bytes out(c->size);
  for (auto _ : state) {
    z_stream z = {};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(c->region.data());
    z.avail_in = c->dataSize;
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(out.data(), out.size(), digest);
    if (result != Z_STREAM_END) {
      state.SkipWithError("inflate failed");
      break;
    }
    benchmark::DoNotOptimize(digest[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->size));
  state.counters["ratio"] = c->ratio;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (std::string(argv[i]) == "--allocator=warm") {
      mallopt(M_MMAP_MAX, 0);              // large blocks from the heap too
      mallopt(M_TRIM_THRESHOLD, INT_MAX);  // and never handed back
      for (int k = i; k < argc; k++) argv[k] = argv[k + 1];
      argc--;
      break;
    }
    if (std::string(argv[i]) == "--allocator=fresh") {
      for (int k = i; k < argc; k++) argv[k] = argv[k + 1];
      argc--;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  std::vector<std::unique_ptr<Case>> cases;
  for (size_t mib : {1, 16, 256}) {
    for (Kind kind : {kIncompressible, kThreeToOne, kThousandToOne}) {
      cases.push_back(MakeCase(kind, mib << 20));
      const Case* c = cases.back().get();
      std::string name = std::string(kKindNames[kind]) + "/" + std::to_string(mib) + "MiB";
      // The floor and FindBlock on the same bytes, one right after the other.
      benchmark::RegisterBenchmark(("floor/" + name).c_str(), FloorBench, c)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.3);
      benchmark::RegisterBenchmark(("FindBlock/" + name).c_str(), FindBlockBench, c)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.3);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
