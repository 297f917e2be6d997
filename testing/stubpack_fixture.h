// Shared pieces of the stubpack tool tests: a scratch folder, the sample MSIs,
// a small PE32+ launcher stand-in, osslsigncode, and the launcher's own reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

// A fresh folder under the system's temporary folder, removed by the destructor.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  std::string Path(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

// The folder where examples/build-sample.sh built en/, de/ and fail/ (once per
// test program).
const std::string& SampleDir();

// The development key pair of keys/.
std::string DevPrivateKeyPath();
std::vector<uint8_t> DevPublicKeyBlob();

// A minimal PE32+ GUI image that osslsigncode signs: headers, a code section
// and a key section holding keyBlob (the launcher's verification key), or no
// key when keyBlob is empty.
std::vector<uint8_t> MakeTestLauncher(const std::vector<uint8_t>& keyBlob);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);

// Runs a shell command; returns its exit status and, when output is given,
// its stdout and stderr.
int RunShell(const std::string& command, std::string* output = nullptr);

// Signs in -> out with osslsigncode and a throwaway test certificate (made
// once), adding extraCertificate (-ac) when it is not empty. True on success.
bool Sign(const std::string& in, const std::string& out, const std::string& extraCertificate = "");
// osslsigncode verify against that test certificate; true when it passes.
bool VerifySignature(const std::string& path, std::string* output = nullptr);

// What the launcher's own code reads from an image: LoadPayloadSources, then
// every manifest entry and each entry's file block.
struct LoadedPayload {
  Status status;
  uint32_t sourceCount;
  std::vector<uint32_t> sourceSizes;
  struct Entry {
    uint32_t source;
    uint32_t key;
    std::string text;
    Status blockStatus;
    std::vector<uint8_t> content;
  };
  std::vector<Entry> entries;
};
LoadedPayload LoadWithLauncherCode(const std::vector<uint8_t>& image);
