// Checking that a name from the manifest is one plain file name, so that the
// paths made from it stay inside the folder they are joined to.
#pragma once

// Null when name is a single plain file-name component: not empty, not "." or
// "..", no "\", "/" or ":", no control character, none of * ? " < > |, not
// ending in a dot or a space, and not a reserved device name (CON, PRN, AUX,
// NUL, COM1-COM9, LPT1-LPT9 in any case, and COM and LPT followed by a
// superscript 1, 2 or 3, with or without an extension).
// Otherwise a short English phrase saying why not, for reports. Walks name by
// character of the ANSI code page (CharNextA), so that a trail byte such as
// 0x5C or 0x7C of a double-byte character belongs to its character and is
// never taken for a separator.
const char* FileNameFault(const char* name);

// True when a and b name the same file in one folder: Windows compares file
// names without regard to case (compared here as _mbsicmp does).
bool SameFileName(const char* a, const char* b);
