/*
 * floors.exe: times, alone, each step the launcher's writing phase is made
 * of, so that the phase can be read against what its steps cost by
 * themselves on the same machine in the same run.
 *
 *   floors.exe hash FILE         SHA-256 of FILE through the system's CNG
 *                                (BCryptHashData, 256 KiB at a time)
 *   floors.exe copy FILE OUT     FILE copied to OUT (ReadFile and WriteFile,
 *                                256 KiB at a time; OUT is created)
 *   floors.exe inflate FILE      FILE, one zlib stream, inflated (64 KiB of
 *                                input read at a time, 256 KiB of output at
 *                                a time, the output dropped)
 *
 * Output: "MS <milliseconds>" (QueryPerformanceCounter, from before the file
 * is opened to after the last byte), then "BYTES <n>" (bytes hashed, copied
 * or inflated). Exit status 1 with "ERROR <reason>" when a step fails.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <bcrypt.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#define SLICE (256 * 1024)
#define READ_SLICE (64 * 1024)

static unsigned char input[SLICE];
static unsigned char output[SLICE];

static int Fail(const char* why) {
  printf("ERROR %s (%lu)\n", why, GetLastError());
  return 1;
}

static HANDLE Open(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

static int Hash(const wchar_t* path, unsigned long long* bytes) {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
  unsigned char digest[32];
  DWORD n;
  HANDLE file = Open(path);
  if (file == INVALID_HANDLE_VALUE) return Fail("open");
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, NULL, 0) != 0 ||
      BCryptCreateHash(algorithm, &hash, NULL, 0, NULL, 0, 0) != 0)
    return Fail("CNG");
  while (ReadFile(file, input, SLICE, &n, NULL) && n > 0) {
    if (BCryptHashData(hash, input, n, 0) != 0) return Fail("BCryptHashData");
    *bytes += n;
  }
  if (BCryptFinishHash(hash, digest, sizeof digest, 0) != 0) return Fail("BCryptFinishHash");
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  CloseHandle(file);
  return 0;
}

static int Copy(const wchar_t* path, const wchar_t* to, unsigned long long* bytes) {
  DWORD n, written;
  HANDLE file = Open(path);
  HANDLE out = CreateFileW(to, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) return Fail("open");
  while (ReadFile(file, input, SLICE, &n, NULL) && n > 0) {
    if (!WriteFile(out, input, n, &written, NULL) || written != n) return Fail("write");
    *bytes += n;
  }
  CloseHandle(out);
  CloseHandle(file);
  return 0;
}

static int Inflate(const wchar_t* path, unsigned long long* bytes) {
  z_stream z;
  int result = Z_OK;
  DWORD n;
  HANDLE file = Open(path);
  if (file == INVALID_HANDLE_VALUE) return Fail("open");
  memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return Fail("inflateInit");
  while (result != Z_STREAM_END) {
    z.next_out = output;
    z.avail_out = SLICE;
    while (z.avail_out > 0 && result != Z_STREAM_END) {
      if (z.avail_in == 0) {
        if (!ReadFile(file, input, READ_SLICE, &n, NULL) || n == 0) return Fail("stream cut short");
        z.next_in = input;
        z.avail_in = n;
      }
      result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) return Fail("bad stream");
    }
    *bytes += SLICE - z.avail_out;
  }
  inflateEnd(&z);
  CloseHandle(file);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  LARGE_INTEGER frequency, start, end;
  unsigned long long bytes = 0;
  int failed;
  if (argc < 3) {
    printf("ERROR usage: floors.exe hash|copy|inflate FILE [OUT]\n");
    return 1;
  }
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (wcscmp(argv[1], L"hash") == 0)
    failed = Hash(argv[2], &bytes);
  else if (wcscmp(argv[1], L"copy") == 0 && argc > 3)
    failed = Copy(argv[2], argv[3], &bytes);
  else if (wcscmp(argv[1], L"inflate") == 0)
    failed = Inflate(argv[2], &bytes);
  else
    failed = Fail("unknown step");
  QueryPerformanceCounter(&end);
  if (failed) return 1;
  printf("MS %.1f\nBYTES %llu\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
         bytes);
  return 0;
}
