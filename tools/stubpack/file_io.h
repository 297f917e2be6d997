// Whole-file reads and all-or-nothing writes, on POSIX and on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the file at path; false with a reason naming the path otherwise.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);

// Writes data to path through a temporary file in the same folder that is
// flushed and then renamed into place, so that path holds either its old
// content or the whole new one. mode is the new file's permission bits
// (POSIX only). With noClobber the write fails when path already exists. On
// failure no temporary file is left behind.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, unsigned mode,
                         bool noClobber, std::string* error);

bool PathExists(const std::string& path);

// True when both paths exist and name the same file (the same device and
// inode, on Windows the same volume and file index), however they are spelt:
// links, "." and "..", case.
bool SameFile(const std::string& a, const std::string& b);

// Creates one folder (mode 0700 on POSIX); false with a reason.
bool MakeFolder(const std::string& path, std::string* error);
// Deletes a file, ignoring failure.
void RemoveFile(const std::string& path);

// Writes data to a new file of its own in the system's temporary folder
// (TMPDIR or /tmp; on Windows GetTempPath), named with `suffix`, and gives
// its path; the caller removes it. False with a reason, leaving nothing.
bool WriteTemporaryFile(const std::vector<uint8_t>& data, const char* suffix, std::string* path,
                        std::string* error);

// folder and name joined with the platform's separator ("\\" on Windows).
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder part of a path ("." when it has none) and the last component;
// on Windows both "/" and "\" separate.
std::string FolderOf(const std::string& path);
std::string BaseName(const std::string& path);

#ifdef _WIN32
// path, in the ANSI code page (UTF-8 for stubpack.exe), as a full UTF-16
// path with backslashes ("sub/a.msi" becomes "C:\work\sub\a.msi"). Empty
// when the path is not valid text in the code page or has no full form.
std::wstring FullPath(const std::string& path);

// FullPath in the form the system's file functions take at any length: one
// too long for MAX_PATH gets the "\\?\" prefix ("\\?\UNC\" for a share),
// which lifts that limit. Empty as FullPath; the functions given an empty
// path fail as for a missing one.
std::wstring SystemPath(const std::string& path);
#endif
