#include "tools/stubpack/pack.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <set>

#include "tools/stubpack/attach.h"
#include "tools/stubpack/fields.h"
#include "tools/stubpack/file_io.h"
#include "tools/stubpack/keys.h"
#include "tools/stubpack/launcher_key.h"
#include "tools/stubpack/msi_reader.h"
#include "tools/stubpack/payload_certificate.h"

namespace {

const uint32_t kFirstKey = 1000;

// A package after its fields are settled and checked.
struct Package {
  std::string msi;
  std::string architecture, languages, productCode, productName;
  std::vector<std::string> cabinetPaths;
  std::vector<std::string> cabinetNames;  // as stored: the name the package expects
};

struct Cabinet {
  uint32_t key;
  std::string name;
  std::string path;
  std::vector<uint8_t> content;
  std::vector<uint32_t> owners;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The file named `name` in folder; a name that differs only in case counts
// too, as it does for msiexec on Windows. Empty when there is none.
std::string FindBeside(const std::string& folder, const std::string& name) {
  std::string exact = JoinPath(folder, name);
  if (PathExists(exact)) return exact;
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (strcasecmp(entry->d_name, name.c_str()) == 0) {
        found = JoinPath(folder, entry->d_name);
        break;
      }
    closedir(dir);
  }
  return found;
}

void Problem(std::vector<std::string>& problems, const std::string& msi, const std::string& text) {
  if (!text.empty()) problems.push_back(msi + ": " + text);
}

// Why a package cannot have a cabinet of this name beside the ones it has
// already: the launcher writes the package as main.msi and every file into
// one folder, where names that differ only in case are one file. Empty when
// it can.
std::string CabinetNameClash(const std::string& name, const std::vector<std::string>& earlier) {
  if (Lower(name) == "main.msi")
    return "cabinet name " + name + " is the name the launcher gives the package itself";
  for (const std::string& other : earlier)
    if (Lower(other) == Lower(name)) {
      std::string both = other == name ? name : other + " and " + name;
      return "two cabinets named " + both + " (one file on Windows)";
    }
  return "";
}

// A Template language list ("0" or "1033,0") with the neutral language 0
// replaced by 1033, once: no locale ever matches 0, and every launcher falls
// back to 1033. *neutral tells whether there was a 0.
std::string NeutralLanguageAs1033(const std::string& languages, bool* neutral) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t end = languages.find_first_of(",;", start);
    std::string piece = languages.substr(start, end == std::string::npos ? end : end - start);
    if (piece == "0") {
      *neutral = true;
      piece = "1033";
    }
    if (std::find(pieces.begin(), pieces.end(), piece) == pieces.end()) pieces.push_back(piece);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!*neutral) return languages;
  std::string out;
  for (const std::string& piece : pieces) out += (out.empty() ? "" : ";") + piece;
  return out;
}

// Settles one package's fields from the command line and the package, and
// finds its cabinets. Appends every problem found.
Package SettlePackage(const PackageInput& input, std::vector<std::string>& problems,
                      std::vector<std::string>& warnings) {
  Package p;
  p.msi = input.msi;
  size_t before = problems.size();
  if (!PathExists(input.msi)) {
    Problem(problems, input.msi, "no such file");
    return p;
  }
  MsiFacts facts;
  std::string error;
  if (!ReadMsiFacts(input.msi, &facts, &error)) {
    problems.push_back(error);
    return p;
  }
  // A Template without a platform ("";1033) means Intel, as Windows Installer reads it.
  if (facts.platform.empty() && !facts.languages.empty()) facts.platform = "Intel";
  if (facts.neutralCodepage && facts.nonAsciiText)
    warnings.push_back(input.msi +
                       ": its texts have no code page (code page 0) and some are not ASCII: "
                       "they are read as code page 1252, as on a Western Windows, and the "
                       "installing system reads them in its own code page. Give the package a "
                       "code page (WiX: Codepage=\"1252\" on Product) to fix them");
  if (facts.undefinedBytes)
    warnings.push_back(input.msi +
                       ": some of its texts hold bytes that code page 1252 does not define "
                       "(0x81, 0x8D, 0x8F, 0x90, 0x9D), as text in another code page such as "
                       "UTF-8 does: they are read as \"?\". Give the package the code page of "
                       "its texts (WiX: Codepage on Product; 65001 for UTF-8)");
  if (input.languages.empty() && !facts.languages.empty()) {
    bool neutral = false;
    facts.languages = NeutralLanguageAs1033(facts.languages, &neutral);
    if (neutral)
      warnings.push_back(input.msi +
                         ": language 0 (neutral) is listed as 1033, the language every launcher "
                         "falls back to; give --languages to list it under others");
  }
  p.architecture = facts.platform;
  p.languages = facts.languages;
  p.productCode = facts.productCode;
  p.productName = facts.productName;
  const std::vector<std::string>& mediaCabinets = facts.cabinets;
  const char* hint = " (the package does not say; give ";
  struct {
    const std::string& given;
    std::string& field;
    const char* what;
    const char* option;
  } fields[] = {{input.architecture, p.architecture, "architecture", "--arch"},
                {input.languages, p.languages, "language list", "--languages"},
                {input.productCode, p.productCode, "product code", "--product-code"},
                {input.productName, p.productName, "product name", "--product-name"}};
  for (auto& f : fields) {
    if (!f.given.empty()) f.field = f.given;
    if (f.field.empty())
      Problem(problems, input.msi, std::string("no ") + f.what + hint + f.option + ")");
  }
  if (problems.size() > before) return p;

  p.languages = ManifestLanguages(p.languages);
  Problem(problems, input.msi, CheckField("architecture", p.architecture));
  Problem(problems, input.msi, CheckLanguages(p.languages));
  Problem(problems, input.msi, CheckProductCode(p.productCode));
  Problem(problems, input.msi, CheckField("product name", p.productName));
  if (Lower(p.architecture) != "x64")
    warnings.push_back(input.msi + ": architecture \"" + p.architecture +
                       "\": the x64 launcher never chooses this package");
  else if (facts.minimumInstallerVersion >= 0 && facts.minimumInstallerVersion < 200)
    Problem(problems, input.msi,
            "x64 package whose summary information gives the minimum installer version "
            "(Page Count) " +
                std::to_string(facts.minimumInstallerVersion) +
                ": Windows Installer refuses it (error 1620), as x64 packages need 200 or more. "
                "Set it to 200 or more (WiX: InstallerVersion=\"200\" on Package)");

  if (!input.cabinets.empty()) {
    for (const std::string& path : input.cabinets) {
      std::string name = BaseName(path);
      Problem(problems, input.msi, CheckFileName("cabinet name", name));
      if (!PathExists(path)) Problem(problems, input.msi, "cabinet " + path + ": no such file");
      Problem(problems, input.msi, CabinetNameClash(name, p.cabinetNames));
      p.cabinetPaths.push_back(path);
      p.cabinetNames.push_back(name);
    }
    for (const std::string& name : mediaCabinets) {
      bool given = false;
      for (const std::string& n : p.cabinetNames) given = given || Lower(n) == Lower(name);
      if (!given)
        warnings.push_back(input.msi + ": its Media table names cabinet " + name +
                           ", which no --cab gives; the installation will look for it in vain");
    }
    return p;
  }
  std::string folder = FolderOf(input.msi);
  for (const std::string& name : mediaCabinets) {
    std::string problem = CheckFileName("cabinet name in the Media table", name);
    if (problem.empty()) problem = CabinetNameClash(name, p.cabinetNames);
    if (!problem.empty()) {
      Problem(problems, input.msi, problem);
      continue;
    }
    std::string path = FindBeside(folder, name);
    if (path.empty()) {
      Problem(problems, input.msi,
              "missing cabinet " + name + ": the package expects it beside itself, at " +
                  JoinPath(folder, name) + " (put it there, or name it with --cab FILE)");
      continue;
    }
    p.cabinetPaths.push_back(path);
    p.cabinetNames.push_back(name);
  }
  return p;
}

// True when every language of b is in a: a package b after a package a for
// the same architecture is then never chosen.
bool Covers(const std::string& a, const std::string& b) {
  auto split = [](const std::string& list) {
    std::set<uint32_t> ids;
    size_t start = 0;
    for (;;) {
      size_t end = list.find(';', start);
      ids.insert(static_cast<uint32_t>(std::stoul(list.substr(start, end - start))));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return ids;
  };
  std::set<uint32_t> in = split(a);
  for (uint32_t id : split(b))
    if (!in.count(id)) return false;
  return true;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

}  // namespace

bool PlanPayload(const std::vector<PackageInput>& inputs,
                 std::vector<payload_writer::Entry>* entries, PackReport* report,
                 std::string* error) {
  entries->clear();
  std::vector<std::string> problems;
  if (inputs.empty()) problems.push_back("no package: give at least one --msi FILE");
  std::vector<Package> packages;
  for (const PackageInput& input : inputs)
    packages.push_back(SettlePackage(input, problems, report->warnings));
  if (!problems.empty()) {
    *error = Join(problems);
    return false;
  }

  bool x64 = false;
  for (const Package& p : packages) x64 = x64 || Lower(p.architecture) == "x64";
  if (!x64) {
    *error =
        "no package is for x64: the x64 launcher would install none of them on any system "
        "(give an x64 package, or --arch x64 for one that is)";
    return false;
  }

  for (size_t j = 0; j < packages.size(); j++)
    for (size_t i = 0; i < j; i++)
      if (Lower(packages[i].architecture) == Lower(packages[j].architecture) &&
          Covers(packages[i].languages, packages[j].languages)) {
        report->warnings.push_back(packages[j].msi + ": never chosen, because " + packages[i].msi +
                                   " comes first for the same architecture "
                                   "and languages");
        break;
      }

  // Keys in command-line order: each package, then its new cabinets.
  uint32_t next = kFirstKey;
  std::vector<Cabinet> cabinets;
  for (const Package& p : packages) {
    payload_writer::Entry entry;
    entry.key = next++;
    entry.text = p.architecture + "\\" + p.languages + "\\" + p.productCode + "\\" + p.productName;
    if (!ReadWholeFile(p.msi, &entry.content, error)) return false;
    report->files.push_back({entry.key, entry.text, p.msi, entry.content.size()});
    entries->push_back(std::move(entry));
    uint32_t owner = next - 1;
    for (size_t c = 0; c < p.cabinetPaths.size(); c++) {
      std::vector<uint8_t> content;
      if (!ReadWholeFile(p.cabinetPaths[c], &content, error)) return false;
      Cabinet* shared = nullptr;
      for (Cabinet& earlier : cabinets)
        if (earlier.name == p.cabinetNames[c] && earlier.content == content) shared = &earlier;
      if (shared) {
        shared->owners.push_back(owner);
        continue;
      }
      cabinets.push_back(
          {next++, p.cabinetNames[c], p.cabinetPaths[c], std::move(content), {owner}});
    }
  }
  for (Cabinet& cab : cabinets) {
    std::string owners;
    for (uint32_t o : cab.owners) owners += (owners.empty() ? "" : ";") + std::to_string(o);
    std::string problem = CheckField("owner list of cabinet " + cab.name, owners);
    if (!problem.empty()) {
      *error = problem + " (too many packages share it)";
      return false;
    }
    payload_writer::Entry entry;
    entry.key = cab.key;
    entry.text = "cab\\" + owners + "\\" + cab.name;
    report->files.push_back({entry.key, entry.text, cab.path, cab.content.size()});
    entry.content = std::move(cab.content);
    entries->push_back(std::move(entry));
  }
  // The manifest lists entries by key: a package, then the cabinets it brought.
  auto byKey = [](const auto& a, const auto& b) { return a.key < b.key; };
  std::sort(entries->begin(), entries->end(), byKey);
  std::sort(report->files.begin(), report->files.end(), byKey);
  return true;
}

bool Pack(const PackOptions& options, PackReport* report, std::string* error) {
  *report = PackReport{};
  bool certificate = !options.certificateOut.empty();
  std::vector<std::string> problems;
  if (options.key.empty()) problems.push_back("no private key: give --key FILE");
  if (certificate && (!options.launcher.empty() || !options.out.empty() || options.replace))
    problems.push_back(
        "--certificate-out writes only the certificate: "
        "--launcher, --out and --replace do not go with it");
  if (!certificate && options.launcher.empty())
    problems.push_back("no launcher: give --launcher FILE");
  if (!certificate && options.out.empty()) problems.push_back("no output: give --out FILE");
  if (!problems.empty()) {
    *error = Join(problems);
    return false;
  }

  payload_writer::SigningKey key = payload_writer::LoadSigningKey(options.key, error);
  if (!key) {
    if (!PathExists(options.key)) *error = options.key + ": no such file";
    return false;
  }
  std::vector<uint8_t> launcher;
  LauncherLayout layout{};
  if (!certificate) {
    if (!ReadWholeFile(options.launcher, &launcher, error)) return false;
    if (!ReadLauncherLayout(launcher, &layout, error)) {
      *error = options.launcher + ": " + *error;
      return false;
    }
    // A launcher without a key, or with another one, rejects every block of
    // this payload.
    LauncherKey trusted;
    if (!ReadLauncherKey(launcher, &trusted, error)) {
      *error = options.launcher + ": " + *error;
      return false;
    }
    std::vector<uint8_t> mine = payload_writer::PublicKeyBlob(key.get());
    if (trusted.blob.empty()) {
      *error = options.launcher + " has no key: it would reject this payload. Stamp it first: "
               "stubpack stamp --launcher " + options.launcher + " --key <your public.pem> --out FILE";
      return false;
    }
    if (trusted.blob != mine) {
      *error = options.launcher + " trusts the key " + KeyFingerprint(trusted.blob) + ", not " +
               options.key + " (" + KeyFingerprint(mine) +
               "): it would reject this payload. Stamp the unsigned launcher with "
               "your public.pem, or pack with the key it was stamped with";
      return false;
    }
  }

  std::vector<payload_writer::Entry> entries;
  if (!PlanPayload(options.packages, &entries, report, error)) return false;
  // Written over one of the inputs, the output would take its place for good.
  std::string target = certificate ? options.certificateOut : options.out;
  std::vector<std::string> inputs = {options.key};
  if (!certificate) inputs.push_back(options.launcher);
  for (const PlannedFile& file : report->files) inputs.push_back(file.path);
  for (const std::string& input : inputs)
    if (SameFile(target, input)) {
      *error = "the output " + target + " is the input " + input + "; write to another file";
      return false;
    }
  std::vector<uint8_t> region;
  if (!payload_writer::WritePayload(entries, key.get(), &region, error)) return false;
  report->payloadSize = region.size();

  std::vector<uint8_t> output;
  if (certificate) {
    if (!MakePayloadCertificate(region, &output, error)) return false;
    std::string name = Lower(target);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0) {
      output = CertificatePem(output);
      if (output.empty()) {
        *error = "cannot write the payload certificate as PEM";
        return false;
      }
    }
  } else if (!AttachPayload(launcher, region, options.replace, &output, error)) {
    *error = options.launcher + ": " + *error;
    return false;
  }
  if (!WriteFileAtomically(target, output, certificate ? 0644 : 0755, false, error)) return false;
  report->outputSize = output.size();
  return true;
}
