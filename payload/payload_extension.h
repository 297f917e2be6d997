// The private certificate extension that may carry a payload: stubpack puts a
// block region into a certificate under this object identifier, and the
// launcher looks for it in the certificates of its own Authenticode signature.
#pragma once

// The extension's object identifier, dotted decimal. Only a non-critical
// extension with it counts.
inline constexpr char PAYLOAD_EXTENSION_OID[] =
    "1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546";
