#include "base/text_format.h"

#include <cstdarg>

namespace {

// Appends one character to the text being written: stored while there is
// room before the terminator, counted always.
struct Output {
  char* out;
  size_t size;
  size_t length;
};

void Put(Output* o, char c) {
  if (o->length + 1 < o->size) o->out[o->length] = c;
  o->length += 1;
}

void PutUnsigned(Output* o, unsigned value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) Put(o, digits[--n]);
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int FormatText(char* out, size_t size, const char* format, ...) {
  Output o = {out, size, 0};
  va_list args;
  va_start(args, format);
  for (const char* f = format; *f; ++f) {
    if (*f != '%' || f[1] == 0) {
      Put(&o, *f);
      continue;
    }
    ++f;
    if (*f == 's') {
      const char* text = va_arg(args, const char*);
      for (; text && *text; ++text) Put(&o, *text);
    } else if (*f == 'u') {
      PutUnsigned(&o, va_arg(args, unsigned));
    } else {
      Put(&o, *f);
    }
  }
  va_end(args);
  if (size > 0) out[o.length < size ? o.length : size - 1] = 0;
  return static_cast<int>(o.length);
}

bool ParseUnsigned(const char* text, uint32_t* value) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  uint32_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) n = n * 10 + static_cast<uint32_t>(*p - '0');
  *value = negative ? 0u - n : n;
  return true;
}
