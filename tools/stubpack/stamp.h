// `stubpack stamp`: the publisher's public key written into a copy of the
// release launcher's key section, so that nobody has to build a launcher.
#pragma once

#include <string>

struct StampOptions {
  std::string launcher;  // unsigned, unpacked launcher; empty: the release launcher
  std::string key;       // PEM: the public key, or the private key whose public half is meant
  std::string out;       // the stamped launcher to write
};

struct StampReport {
  std::string launcher;     // the launcher that was read
  std::string fingerprint;  // of the key written (KeyFingerprint)
  std::string digest;       // the image digest, the same as the unstamped launcher's
};

// Reads the launcher (options.launcher, or ReleaseLauncherPath()), writes the
// key's PUBLICKEYBLOB into its key section, sets the PE checksum and writes
// the result to options.out all at once. Refuses, writing nothing: a missing
// launcher or key, a key that is not RSA-2048, a launcher that is not PE32+,
// has no key section of this format, is signed (stamping would break its
// signature) or carries a payload, and an output that is the key file.
// Re-stamping a stamped launcher replaces its key. False with the reason.
bool Stamp(const StampOptions& options, StampReport* report, std::string* error);
