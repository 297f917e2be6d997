// keys/dev_public.pem as a PUBLICKEYBLOB (generated/development_key.inc).
#include "testing/development_key.h"

const uint8_t kDevelopmentKeyBlob[276] = {
#include "development_key.inc"
};
