// The command line: help for every command, usage errors, and a whole
// keygen -> pack -> inspect -> digest run through RunStubpack.
#include "tools/stubpack/cli.h"

#include <gtest/gtest.h>

#include "tools/stubpack/keys.h"
#include "testing/stubpack_fixture.h"

namespace {

int Stubpack(std::vector<std::string> args, std::string* out = nullptr,
             std::string* err = nullptr) {
  args.insert(args.begin(), "stubpack");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int status = RunStubpack(static_cast<int>(argv.size()), argv.data());
  fflush(stdout);
  fflush(stderr);
  std::string o = testing::internal::GetCapturedStdout();
  std::string e = testing::internal::GetCapturedStderr();
  if (out) *out = o;
  if (err) *err = e;
  return status;
}

TEST(Cli, HelpForEveryCommand) {
  const std::pair<const char*, const char*> commands[] = {
      {"keygen", "usage: stubpack keygen --out DIR"},
      {"stamp", "usage: stubpack stamp [--launcher FILE] --key PUBLIC.pem|PRIVATE.pem --out FILE"},
      {"pack", "usage: stubpack pack --launcher FILE"},
      {"inspect", "usage: stubpack inspect FILE [--locale LCID]"},
      {"digest", "usage: stubpack digest FILE"},
  };
  for (const auto& c : commands) {
    std::string out;
    EXPECT_EQ(Stubpack({c.first, "--help"}, &out), 0);
    EXPECT_EQ(out.rfind(c.second, 0), 0u) << out;
  }
  std::string out;
  EXPECT_EQ(Stubpack({"--help"}, &out), 0);
  EXPECT_NE(out.find("keygen"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"keygen"},
      {"keygen", "--out"},
      {"pack", "--arch", "x64", "--msi", "a.msi"},
      {"pack", "--cab", "a.cab"},
      {"pack", "--msi", "a.msi", "--arch", "x64", "--arch", "x64"},
      {"pack", "--key", "a", "--key", "b"},
      {"pack", "--append", "--certificate-out", "c.der", "--key", "k", "--msi", "a.msi"},
      {"pack", "--bogus"},
      {"inspect"},
      {"inspect", "a", "b"},
      {"inspect", "a", "--locale", "de"},
      {"inspect", "a", "--locale", "99999999999"},
      {"stamp"},
      {"stamp", "--key", "k.pem"},
      {"stamp", "--out", "x.exe"},
      {"stamp", "--key", "k.pem", "--out", "x.exe", "--bogus"},
      {"digest"},
      {"digest", "a", "b"},
      {"digest", "a", "--locale", "1031"},
  };
  for (const auto& args : cases) {
    std::string err;
    EXPECT_EQ(Stubpack(args, nullptr, &err), 2) << (args.empty() ? "" : args[0]) << " " << err;
  }
}

TEST(Cli, KeygenPackInspectWithAFreshKey) {
  ScratchDir dir;
  ASSERT_EQ(Stubpack({"keygen", "--out", dir.Path("keys")}), 0);
  std::vector<uint8_t> blob = ReadBytes(dir.Path("keys/public.blob"));
  WriteBytes(dir.Path("launcher.exe"), MakeTestLauncher(blob));
  std::string out, err;
  ASSERT_EQ(Stubpack({"pack", "--launcher", dir.Path("launcher.exe"), "--key",
                      dir.Path("keys/private.pem"), "--out=" + dir.Path("setup.exe"), "--msi",
                      SampleDir() + "/de/demo.msi", "--msi", SampleDir() + "/en/demo.msi",
                      "--languages", "1033;2057"},
                     &out, &err),
            0)
      << err;
  EXPECT_NE(out.find("1003  cab\\1002\\demo.cab"), std::string::npos) << out;
  ASSERT_EQ(Stubpack({"inspect", dir.Path("setup.exe"), "--locale", "0x0809"}, &out), 0) << out;
  EXPECT_NE(out.find("key:       " + KeyFingerprint(blob)), std::string::npos) << out;
  EXPECT_NE(out.find("chosen:  key 1002"), std::string::npos) << out;

  // The digest alone, the same for the launcher and the packed file, and in
  // inspect's report.
  std::string digest, packedDigest;
  ASSERT_EQ(Stubpack({"digest", dir.Path("launcher.exe")}, &digest), 0);
  ASSERT_EQ(Stubpack({"digest", dir.Path("setup.exe")}, &packedDigest), 0);
  EXPECT_EQ(digest.size(), 65u) << digest;
  EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), 64u) << digest;
  EXPECT_EQ(packedDigest, digest);
  EXPECT_NE(out.find("digest:    " + digest.substr(0, 64) + " "), std::string::npos) << out;

  // A failure says so and exits with 1.
  EXPECT_EQ(Stubpack({"pack", "--launcher", dir.Path("launcher.exe"), "--key",
                      dir.Path("keys/private.pem"), "--out", dir.Path("x.exe"), "--msi",
                      dir.Path("none.msi")},
                     nullptr, &err),
            1);
  EXPECT_NE(err.find("nothing written"), std::string::npos) << err;
  EXPECT_EQ(Stubpack({"keygen", "--out", dir.Path("keys")}, nullptr, &err), 1);
  EXPECT_EQ(Stubpack({"digest", dir.Path("keys/public.pem")}, &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("not a PE image"), std::string::npos) << err;
}

// The stubpack program reads no OpenSSL configuration: neither one that
// leaves libcrypto without any hash (only the "null" provider) nor one that
// names a provider module it cannot load changes what it does.
TEST(Cli, IgnoresOpenSslConfiguration) {
  ScratchDir dir;
  const std::string begin = "openssl_conf = init\n[init]\nproviders = providers\n[providers]\n";
  const std::pair<const char*, std::string> configurations[] = {
      {"null.cnf", begin + "null = null\n[null]\nactivate = 1\n"},
      {"missing.cnf", begin + "mine = mine\n[mine]\nmodule = /nonexistent/mine.so\nactivate = 1\n"},
  };
  for (const auto& c : configurations) {
    SCOPED_TRACE(c.first);
    const std::string config = dir.Path(c.first), keys = dir.Path(std::string(c.first) + ".keys");
    WriteBytes(config, std::vector<uint8_t>(c.second.begin(), c.second.end()));
    const std::string run = "OPENSSL_CONF='" + config + "' '" + STUBPACK_BINARY + "' ";
    std::string out;
    ASSERT_EQ(RunShell(run + "keygen --out '" + keys + "'", &out), 0) << out;
    WriteBytes(keys + "/launcher.exe", MakeTestLauncher(ReadBytes(keys + "/public.blob")));
    ASSERT_EQ(RunShell(run + "pack --launcher '" + keys + "/launcher.exe' --key '" + keys +
                           "/private.pem' --out '" + keys + "/setup.exe' --msi '" + SampleDir() +
                           "/en/demo.msi'",
                       &out),
              0)
        << out;
    EXPECT_EQ(RunShell(run + "inspect '" + keys + "/setup.exe'", &out), 0) << out;
    EXPECT_NE(out.find("everything the launcher would use verifies"), std::string::npos) << out;
  }
}

}  // namespace
