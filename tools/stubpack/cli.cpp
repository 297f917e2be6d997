#include "tools/stubpack/cli.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/stubpack/crypto.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/image_digest.h"
#include "tools/stubpack/inspect.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/pack.h"
#include "tools/stubpack/stamp.h"

namespace {

const char kUsage[] =
    "usage: stubpack <command> [options]\n"
    "\n"
    "Builds self-contained installer launchers: one launcher.exe that carries\n"
    "signed, compressed MSI packages and their cabinets.\n"
    "\n"
    "commands:\n"
    "  keygen   make a new RSA-2048 key pair for signing payloads\n"
    "  stamp    write your public key into a copy of the release launcher\n"
    "  pack     put MSI packages and their cabinets into a launcher (or a certificate)\n"
    "  inspect  list and verify a launcher's payload the way the launcher reads it\n"
    "  digest   print a launcher's image digest (signing and packing leave it unchanged)\n"
    "\n"
    "\"stubpack <command> --help\" describes a command.\n";

const char kKeygenHelp[] =
    "usage: stubpack keygen --out DIR\n"
    "\n"
    "Makes a new RSA-2048 key pair in DIR (created when missing):\n"
    "  DIR/private.pem  the private key, PEM (PKCS#8, unencrypted, mode 0600); it\n"
    "                   signs every payload: keep it secret, back it up\n"
    "  DIR/public.pem   the public key, PEM; stamp the launcher with it:\n"
    "                   stubpack stamp --key DIR/public.pem --out launcher.exe\n"
    "  DIR/public.blob  the same public key as the 276-byte PUBLICKEYBLOB that the\n"
    "                   launcher carries\n"
    "\n"
    "Refuses to overwrite: when any of the three files exists, nothing is written.\n"
    "Exit status 0 on success, 1 on failure, 2 on a usage error.\n";

const char kPackHelp[] =
    "usage: stubpack pack --launcher FILE --key PRIVATE.pem --out FILE [--append] [--replace]\n"
    "                     PACKAGE...\n"
    "       stubpack pack --key PRIVATE.pem --certificate-out FILE PACKAGE...\n"
    "\n"
    "PACKAGE is --msi FILE followed by options for that package:\n"
    "  --msi FILE             a Windows Installer package; file block 1000 for the first,\n"
    "                         then 1001, ... for its cabinets and the next packages\n"
    "  --product-code GUID    braced GUID                    (default: Property ProductCode)\n"
    "  --product-name TEXT    progress window title          (default: Property ProductName)\n"
    "  --arch NAME            architecture, x64              (default: summary Template)\n"
    "  --languages LIST       language ids, e.g. 1033;1031   (default: summary Template)\n"
    "  --cab FILE             a cabinet of this package, repeatable; stored under its file\n"
    "                         name. Without --cab, the external cabinets of the Media table\n"
    "                         are taken from beside the package\n"
    "A cabinet with the same name and content as one of an earlier package is stored\n"
    "once, for both.\n"
    "\n"
    "Where the payload goes:\n"
    "  --append               (default) into the launcher: inside the certificate table of a\n"
    "                         signed launcher, after its signature, which stays valid; at the\n"
    "                         end of an unsigned one. Sign first, then pack: signing a packed\n"
    "                         launcher hides the payload, and pack refuses such a file.\n"
    "                         Windows with the strict certificate-padding check\n"
    "                         (EnableCertPaddingCheck) rejects the signature of this form.\n"
    "  --certificate-out FILE instead of touching a launcher, write an X.509 certificate\n"
    "                         whose private extension holds the payload (DER; PEM when FILE\n"
    "                         ends in .pem, which osslsigncode's -ac needs); add it when\n"
    "                         signing: osslsigncode sign ... -ac FILE.pem -in launcher.exe\n"
    "                         -out setup.exe, or signtool sign ... /ac FILE (DER). This form\n"
    "                         passes the strict padding check.\n"
    "  --replace              replace the payload an unsigned or signed-then-packed launcher\n"
    "                         already carries (otherwise that is refused)\n"
    "\n"
    "The key must be the RSA-2048 private key whose public half is stamped into the\n"
    "launcher (stubpack stamp); a launcher without a key or with another one is\n"
    "refused. Fields are refused when longer than\n"
    "255 bytes or holding a backslash; file names with path parts, \"..\", drive letters,\n"
    "device names or more than 260 bytes; a cabinet named main.msi, or two of one\n"
    "package whose names differ only in case; language ids that are not numbers.\n"
    "The output appears whole or not at all. Exit status 0 on success, 1 on failure\n"
    "(nothing written), 2 on a usage error.\n";

const char kInspectHelp[] =
    "usage: stubpack inspect FILE [--locale LCID]\n"
    "\n"
    "Runs the launcher's own reading code on FILE and lists every payload source, every\n"
    "manifest entry, and every block with its stored and decoded size, ratio (stored\n"
    "as a share of decoded) and signature state, checked against the key in FILE's key\n"
    "section, whose fingerprint it shows beside the image digest. Says whether FILE is Authenticode-signed and whether its payload\n"
    "sits where Windows' strict certificate-padding check rejects the signature.\n"
    "\n"
    "  --locale LCID   also show which package the launcher would choose for a user\n"
    "                  whose locale is LCID (e.g. 1031), and which files it would write\n"
    "\n"
    "Exit status 0 when everything the launcher would use is found and verifies and\n"
    "some user locale makes it choose a package, 1 otherwise, 2 on a usage error.\n";

const char kDigestHelp[] =
    "usage: stubpack digest FILE\n"
    "\n"
    "Prints the image digest of FILE (a PE32+ program) as 64 hexadecimal digits: the\n"
    "SHA-256 of its headers and sections, without the checksum field and the security\n"
    "directory entry, and without what follows the last section (signing padding,\n"
    "the certificate table with the signature, a packed payload). A launcher has the\n"
    "same digest as built, signed, packed or both, so a recipient can check that a\n"
    "setup.exe carries the launcher that the published source builds with the same\n"
    "key: build it, then compare \"stubpack digest launcher.exe\" with\n"
    "\"stubpack digest setup.exe\".\n"
    "\n"
    "Exit status 0 when the digest is printed, 1 when FILE cannot be read or is not a\n"
    "PE32+ image with a sound certificate table, 2 on a usage error.\n";

const char kStampHelp[] =
    "usage: stubpack stamp [--launcher FILE] --key PUBLIC.pem|PRIVATE.pem --out FILE\n"
    "\n"
    "Writes the public key (from public.pem, or the public half of private.pem) into\n"
    "the key section of an unsigned, unpacked launcher, sets its PE checksum and\n"
    "writes the result to FILE: a launcher that accepts payloads signed with that\n"
    "key and no other. Without --launcher it stamps the release launcher installed\n"
    "beside stubpack. A signed or packed launcher is refused (stamping would break\n"
    "its signature), and nothing is written. Then sign FILE and pack into it.\n"
    "\n"
    "Every stamped copy keeps the launcher's image digest (\"stubpack digest\"): the\n"
    "key section counts as zeros. Prints the key's fingerprint and the digest.\n"
    "\n"
    "Exit status 0 on success, 1 when refused, 2 on a usage error.\n";

// A locale id in decimal ("1031") or hexadecimal ("0x0407"), below 2^32.
bool ParseLocale(const std::string& text, uint32_t* lcid) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  uint64_t value = 0;
  for (size_t i = hex ? 2 : 0; i < text.size(); i++) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  *lcid = static_cast<uint32_t>(value);
  return !text.empty() && text != "0x" && text != "0X";
}

bool IsHelp(const char* arg) {
  return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 || strcmp(arg, "help") == 0;
}

// Reads "--name VALUE" or "--name=VALUE" at argv[*i]; advances *i past it.
// Returns false when argv[*i] is not that option.
bool OptionValue(int argc, char** argv, int* i, const char* name, std::string* value,
                 std::string* error) {
  const char* arg = argv[*i];
  size_t n = strlen(name);
  if (strncmp(arg, name, n) != 0) return false;
  if (arg[n] == '=') {
    *value = arg + n + 1;
  } else if (arg[n] == 0) {
    if (*i + 1 >= argc) {
      *error = std::string(name) + " needs a value";
      *value = "";
      return true;
    }
    *value = argv[++*i];
  } else {
    return false;
  }
  if (value->empty()) *error = std::string(name) + " needs a value";
  return true;
}

int UsageError(const std::string& message, const char* command) {
  fprintf(stderr, "stubpack: %s\n(see \"stubpack %s --help\")\n", message.c_str(), command);
  return 2;
}

int Keygen(int argc, char** argv) {
  std::string out, error;
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      fputs(kKeygenHelp, stdout);
      return 0;
    }
    std::string value;
    if (OptionValue(argc, argv, &i, "--out", &value, &error)) {
      if (!error.empty()) return UsageError(error, "keygen");
      out = value;
    } else {
      return UsageError(std::string("unknown argument ") + argv[i], "keygen");
    }
  }
  if (out.empty()) return UsageError("give --out DIR", "keygen");
  if (!MakeKeyPair(out, &error)) {
    fprintf(stderr, "stubpack keygen: %s\n", error.c_str());
    return 1;
  }
  printf("wrote %s/private.pem (keep it secret), %s/public.pem and %s/public.blob\n", out.c_str(),
         out.c_str(), out.c_str());
  return 0;
}

int StampCommand(int argc, char** argv) {
  StampOptions options;
  std::string error;
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      fputs(kStampHelp, stdout);
      return 0;
    }
    std::string value;
    std::string* field = nullptr;
    if (OptionValue(argc, argv, &i, "--launcher", &value, &error)) field = &options.launcher;
    else if (OptionValue(argc, argv, &i, "--key", &value, &error)) field = &options.key;
    else if (OptionValue(argc, argv, &i, "--out", &value, &error)) field = &options.out;
    else return UsageError(std::string("unknown argument ") + argv[i], "stamp");
    if (!error.empty()) return UsageError(error, "stamp");
    *field = value;
  }
  if (options.key.empty()) return UsageError("give --key PUBLIC.pem", "stamp");
  if (options.out.empty()) return UsageError("give --out FILE", "stamp");
  StampReport report;
  if (!Stamp(options, &report, &error)) {
    fprintf(stderr, "stubpack stamp: %s\n", error.c_str());
    return 1;
  }
  printf("stamped %s with the key %s into %s\n", report.launcher.c_str(),
         report.fingerprint.c_str(), options.out.c_str());
  printf("digest: %s (the release launcher's)\n", report.digest.c_str());
  printf("next: sign %s, then stubpack pack --launcher SIGNED --key PRIVATE.pem ...\n",
         options.out.c_str());
  return 0;
}

int PackCommand(int argc, char** argv) {
  PackOptions options;
  std::string error;
  struct {
    const char* name;
    std::string PackOptions::*field;
  } global[] = {{"--launcher", &PackOptions::launcher},
                {"--out", &PackOptions::out},
                {"--key", &PackOptions::key},
                {"--certificate-out", &PackOptions::certificateOut}};
  struct {
    const char* name;
    std::string PackageInput::*field;
  } perPackage[] = {{"--product-code", &PackageInput::productCode},
                    {"--product-name", &PackageInput::productName},
                    {"--arch", &PackageInput::architecture},
                    {"--languages", &PackageInput::languages}};
  bool append = false;
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      fputs(kPackHelp, stdout);
      return 0;
    }
    if (strcmp(argv[i], "--append") == 0) {
      append = true;
      continue;
    }
    if (strcmp(argv[i], "--replace") == 0) {
      options.replace = true;
      continue;
    }
    std::string value;
    bool known = false;
    for (auto& g : global) {
      if (known || !OptionValue(argc, argv, &i, g.name, &value, &error)) continue;
      known = true;
      if (error.empty() && !(options.*g.field).empty())
        error = std::string(g.name) + " given twice";
      options.*g.field = value;
    }
    if (!known && OptionValue(argc, argv, &i, "--msi", &value, &error)) {
      known = true;
      options.packages.push_back(PackageInput{});
      options.packages.back().msi = value;
    }
    for (auto& p : perPackage) {
      if (known || !OptionValue(argc, argv, &i, p.name, &value, &error)) continue;
      known = true;
      if (options.packages.empty())
        error = std::string(p.name) + " belongs to a package: give --msi FILE before it";
      else if (!(options.packages.back().*p.field).empty())
        error = std::string(p.name) + " given twice for " + options.packages.back().msi;
      else
        options.packages.back().*p.field = value;
    }
    if (!known && OptionValue(argc, argv, &i, "--cab", &value, &error)) {
      known = true;
      if (options.packages.empty())
        error = "--cab belongs to a package: give --msi FILE before it";
      else
        options.packages.back().cabinets.push_back(value);
    }
    if (!known) error = std::string("unknown argument ") + argv[i];
    if (!error.empty()) return UsageError(error, "pack");
  }
  if (append && !options.certificateOut.empty())
    return UsageError("--append and --certificate-out are two different ways; choose one", "pack");

  PackReport report;
  bool ok = Pack(options, &report, &error);
  for (const std::string& warning : report.warnings)
    fprintf(stderr, "stubpack pack: warning: %s\n", warning.c_str());
  if (!ok) {
    fprintf(stderr, "stubpack pack: %s\nnothing written\n", error.c_str());
    return 1;
  }
  for (const PlannedFile& f : report.files)
    printf("%u  %-60s %10" PRIu64 " bytes  %s\n", f.key, f.text.c_str(), f.size, f.path.c_str());
  printf("payload %" PRIu64 " bytes; wrote %s (%" PRIu64 " bytes)\n", report.payloadSize,
         (options.certificateOut.empty() ? options.out : options.certificateOut).c_str(),
         report.outputSize);
  if (!options.certificateOut.empty())
    printf("next: osslsigncode sign -certs CERT -key KEY -ac %s -in LAUNCHER -out SETUP\n",
           options.certificateOut.c_str());
  return 0;
}

int InspectCommand(int argc, char** argv) {
  std::string file, error;
  InspectOptions options;
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      fputs(kInspectHelp, stdout);
      return 0;
    }
    std::string value;
    if (OptionValue(argc, argv, &i, "--locale", &value, &error)) {
      if (!error.empty()) return UsageError(error, "inspect");
      if (!ParseLocale(value, &options.locale))
        return UsageError("--locale wants a locale id such as 1031 or 0x0407", "inspect");
      options.hasLocale = true;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      return UsageError(std::string("unknown option ") + argv[i], "inspect");
    } else if (file.empty()) {
      file = argv[i];
    } else {
      return UsageError("inspect takes one file", "inspect");
    }
  }
  if (file.empty()) return UsageError("give the file to inspect", "inspect");
  std::string text;
  int status = Inspect(file, options, &text);
  fputs(text.c_str(), stdout);
  return status;
}

int DigestCommand(int argc, char** argv) {
  std::string file;
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      fputs(kDigestHelp, stdout);
      return 0;
    }
    if (argv[i][0] == '-' && argv[i][1] != 0)
      return UsageError(std::string("unknown option ") + argv[i], "digest");
    if (!file.empty()) return UsageError("digest takes one file", "digest");
    file = argv[i];
  }
  if (file.empty()) return UsageError("give the file to digest", "digest");
  std::vector<uint8_t> image;
  std::string error;
  ImageDigest digest;
  if (!ReadWholeFile(file, &image, &error)) {
    fprintf(stderr, "stubpack digest: %s\n", error.c_str());
    return 1;
  }
  if (!ComputeImageDigest(image, &digest, &error)) {
    fprintf(stderr, "stubpack digest: %s: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  printf("%s\n", DigestHex(digest).c_str());
  return 0;
}

}  // namespace

int RunStubpack(int argc, char** argv) {
  crypto::StartCrypto();  // before any other cryptography
  if (argc < 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (IsHelp(command)) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (strcmp(command, "keygen") == 0) return Keygen(argc, argv);
  if (strcmp(command, "stamp") == 0) return StampCommand(argc, argv);
  if (strcmp(command, "pack") == 0) return PackCommand(argc, argv);
  if (strcmp(command, "inspect") == 0) return InspectCommand(argc, argv);
  if (strcmp(command, "digest") == 0) return DigestCommand(argc, argv);
  fprintf(stderr, "stubpack: unknown command \"%s\"\n\n%s", command, kUsage);
  return 2;
}
