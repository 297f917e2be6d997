#include "base/status.h"

Status MakeStatus(LastErrorFn lastErrorFn, uint32_t defaultCode, uint32_t location) {
  DWORD code = lastErrorFn();
  return Status{code ? code : defaultCode, location};
}
