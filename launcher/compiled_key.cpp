// The key section's content as built. With MSISTUB_HAS_KEY the generated
// verification_key.inc gives the 276 bytes of the PUBLICKEYBLOB.
#include "launcher/compiled_key.h"

#ifdef MSISTUB_HAS_KEY
#define KEY_SIZE_BYTES static_cast<uint8_t>(KEY_BLOB_SIZE), static_cast<uint8_t>(KEY_BLOB_SIZE >> 8)
#else
#define KEY_SIZE_BYTES 0, 0
#endif

// Kept even if nothing referred to it, in a section of its own, read-only.
__attribute__((section(KEY_SECTION_NAME), used)) extern const uint8_t
    kKeySection[KEY_SECTION_SIZE] = {
        static_cast<uint8_t>(KEY_SECTION_MAGIC), static_cast<uint8_t>(KEY_SECTION_MAGIC >> 8),
        static_cast<uint8_t>(KEY_SECTION_MAGIC >> 16), static_cast<uint8_t>(KEY_SECTION_MAGIC >> 24),
        static_cast<uint8_t>(KEY_SECTION_VERSION), static_cast<uint8_t>(KEY_SECTION_VERSION >> 8),
        KEY_SIZE_BYTES,
#ifdef MSISTUB_HAS_KEY
#include "verification_key.inc"
#endif
};
