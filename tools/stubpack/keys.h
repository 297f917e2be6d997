// The publisher's key pair: making it, and naming a key in messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `stubpack keygen`: makes a new RSA-2048 key pair in folder (created when it
// does not exist): private.pem (PKCS#8, mode 0600), public.pem
// (SubjectPublicKeyInfo) and public.blob (the 276-byte PUBLICKEYBLOB). Refuses,
// writing nothing, when any of the three already exists. False with a reason.
bool MakeKeyPair(const std::string& folder, std::string* error);

// A short fingerprint of a key blob for messages: the first 8 bytes of its
// SHA-256, in hex ("3f2a...").
std::string KeyFingerprint(const std::vector<uint8_t>& blob);
