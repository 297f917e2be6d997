// The streaming decoder of file blocks (OpenBlockStream, ReadBlockSlice until
// the block ends, CloseBlockStream) on a source in memory, nothing written,
// against its floor: plain zlib inflate plus SHA-256 of the same bytes. Three
// kinds of content, 1 MiB to 256 MiB.
//
// Two floors, and the stream is held to the faster of them:
// - one-shot: one inflate call into a preallocated buffer of the whole
//   content, then one SHA-256 over it;
// - sliced: one inflate call per 256 KiB of output into one buffer that is
//   reused, each slice added to the SHA-256 while it is still in the cache.
// The one-shot floor makes the fewest calls but writes the whole content to
// memory and reads it back for the digest; the sliced one touches only a
// cache-sized buffer. Which is faster depends on the size and the machine, so
// neither alone is the floor.
//
// Runs on the host platform: LocalAlloc over malloc, the CNG SHA-256 over
// OpenSSL's, the same SHA-256 the floors call. The ratios are printed by
// scripts/bench.sh from this program's JSON output.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "payload/block.h"
#include "payload/block_format.h"
#include "payload/block_stream.h"
#include "testing/development_key.h"
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

void Finish(benchmark::State& state, const Case* c) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->size));
  state.counters["ratio"] = c->ratio;
}

void StreamBench(benchmark::State& state, const Case* c) {
  PayloadSource source =
      MemoryRegion(c->region.data(), static_cast<uint32_t>(c->region.size()));
  source.flags = SOURCE_COMPRESSED | SOURCE_SIGNED;
  source.key = kDevelopmentKey;
  BlockPlace place = {};
  if (FindBlockPlace(&source, FILE_BLOCK_KIND, 1, &place).code != 0) {
    state.SkipWithError("block not found");
    return;
  }
  for (auto _ : state) {
    BlockStream stream;
    Status status = OpenBlockStream(&stream, &source, place);
    uint64_t total = 0;
    bool ended = false;
    uint8_t last = 0;
    while (status.code == 0 && !ended) {
      const uint8_t* slice = nullptr;
      uint32_t size = 0;
      status = ReadBlockSlice(&stream, &slice, &size, &ended);
      total += size;
      if (size) last = slice[size - 1];
    }
    CloseBlockStream(&stream);
    if (status.code != 0 || total != c->size) {
      state.SkipWithError("the stream failed");
      break;
    }
    benchmark::DoNotOptimize(last);
  }
  Finish(state, c);
}

// SHA-256 through EVP, as the host's CNG stand-in computes it.
struct Sha256 {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  Sha256() { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
  ~Sha256() { EVP_MD_CTX_free(context); }
  void Add(const uint8_t* data, size_t size) { EVP_DigestUpdate(context, data, size); }
  uint8_t Finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context, digest, &size);
    return digest[0];
  }
};

void OneShotFloorBench(benchmark::State& state, const Case* c) {
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
    Sha256 digest;
    digest.Add(out.data(), out.size());
    benchmark::DoNotOptimize(digest.Finish());
    if (result != Z_STREAM_END) {
      state.SkipWithError("inflate failed");
      break;
    }
  }
  Finish(state, c);
}

void SlicedFloorBench(benchmark::State& state, const Case* c) {
  const uInt kSlice = 256 * 1024;
  Bytes out(kSlice);
  for (auto _ : state) {
    z_stream z = {};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(c->region.data());
    z.avail_in = c->dataSize;
    Sha256 digest;
    int result = Z_OK;
    while (result == Z_OK) {
      z.next_out = out.data();
      z.avail_out = kSlice;
      result = inflate(&z, Z_NO_FLUSH);
      digest.Add(out.data(), kSlice - z.avail_out);
    }
    inflateEnd(&z);
    benchmark::DoNotOptimize(digest.Finish());
    if (result != Z_STREAM_END) {
      state.SkipWithError("inflate failed");
      break;
    }
  }
  Finish(state, c);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::unique_ptr<Case>> cases;
  for (size_t mib : {1, 16, 256}) {
    for (Kind kind : {kIncompressible, kThreeToOne, kThousandToOne}) {
      cases.push_back(MakeCase(kind, mib << 20));
      const Case* c = cases.back().get();
      const std::string name = std::string(kKindNames[kind]) + "/" + std::to_string(mib) + "MiB";
      // The floors and the stream on the same bytes.
      for (auto [prefix, function] : {std::pair{"floor-oneshot/", OneShotFloorBench},
                                      std::pair{"floor-sliced/", SlicedFloorBench},
                                      std::pair{"stream/", StreamBench}})
        benchmark::RegisterBenchmark((prefix + name).c_str(), function, c)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.3);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
