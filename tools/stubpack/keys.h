// The publisher's key pair: making it, and matching a launcher's compiled-in
// verification key against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `stubpack keygen`: makes a new RSA-2048 key pair in folder (created when it
// does not exist): private.pem (PKCS#8, mode 0600), public.pem
// (SubjectPublicKeyInfo) and public.blob (the 276-byte PUBLICKEYBLOB). Refuses,
// writing nothing, when any of the three already exists. False with a reason.
bool MakeKeyPair(const std::string& folder, std::string* error);

// The 276-byte PUBLICKEYBLOBs of RSA-2048 keys found in image, in file order:
// the verification key a launcher was built with.
std::vector<std::vector<uint8_t>> FindPublicKeyBlobs(const std::vector<uint8_t>& image);

// A short fingerprint of a key blob for messages: the first 8 bytes of its
// SHA-256, in hex ("3f2a...").
std::string KeyFingerprint(const std::vector<uint8_t>& blob);
