// The second way to ship a payload: inside a private, non-critical extension
// of an X.509 certificate that the publisher adds to the launcher's
// Authenticode signature when signing (osslsigncode sign ... -ac FILE). The
// extension is payload/payload_extension.h's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A DER X.509 v3 certificate whose one extension, non-critical, has the region
// as its value: subject and issuer "CN=stubpack payload", a random serial,
// valid from now with no end date, self-signed with a fresh RSA-2048 key made
// for it alone (never the payload key). False with a reason when the
// cryptography library refuses.
bool MakePayloadCertificate(const std::vector<uint8_t>& region, std::vector<uint8_t>* der,
                            std::string* error);

// The same certificate in PEM armour ("-----BEGIN CERTIFICATE-----"), for
// signing tools that read only PEM (osslsigncode's -ac); empty on failure.
std::vector<uint8_t> CertificatePem(const std::vector<uint8_t>& der);

// True when a certificate inside the DER PKCS#7 SignedData carries the
// payload extension as a non-critical extension (the form the launcher
// reads). False also for data that is not SignedData.
bool SignedDataCarriesPayload(const uint8_t* pkcs7, uint32_t size);
