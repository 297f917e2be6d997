// The one door from the launcher's logic to the operating system.
//
// On Windows this header is <windows.h> and friends: the logic calls the
// real API. On the host it declares the same calls, with the same types,
// results and last-error behaviour, implemented either by the fake platform
// (platform/fake, a scripted in-memory Windows for the unit tests) or by the
// host platform (platform/host, POSIX and OpenSSL, enough for stubpack to run
// the payload and manifest code); both do the crypt32 and CNG calls with
// OpenSSL. The implementation is chosen at link time.
//
// Text is ANSI (char) for every call but the command line, the path that
// opens the own file and the installer's process, which are UTF-16 so that no
// character is lost to the ANSI code page; UTF-16 text is WCHAR, which is 16
// bits on both platforms (char16_t on the host).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <mbstring.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wincrypt.h>
#include <sddl.h>

// crypt32 is not in the import table: it is not a KnownDLL, so an elevated
// program must not let the loader look for it beside the executable. These
// stand-ins load it from System32 on first use and forward the call; the logic
// keeps writing the usual names.
#define CryptMsgOpenToDecode PlatformCryptMsgOpenToDecode
#define CryptMsgUpdate PlatformCryptMsgUpdate
#define CryptMsgGetParam PlatformCryptMsgGetParam
#define CryptMsgClose PlatformCryptMsgClose
#define CertCreateCertificateContext PlatformCertCreateCertificateContext
#define CertFreeCertificateContext PlatformCertFreeCertificateContext

HCRYPTMSG WINAPI PlatformCryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType,
                                              HCRYPTPROV_LEGACY prov, PCERT_INFO recipient,
                                              PCMSG_STREAM_INFO stream);
BOOL WINAPI PlatformCryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD size, BOOL final);
BOOL WINAPI PlatformCryptMsgGetParam(HCRYPTMSG msg, DWORD type, DWORD index, void* data,
                                     DWORD* size);
BOOL WINAPI PlatformCryptMsgClose(HCRYPTMSG msg);
PCCERT_CONTEXT WINAPI PlatformCertCreateCertificateContext(DWORD encoding, const BYTE* data,
                                                           DWORD size);
BOOL WINAPI PlatformCertFreeCertificateContext(PCCERT_CONTEXT cert);

// CNG (bcrypt) the same way: not imported, loaded from System32 on first use.
#include <bcrypt.h>

#define BCryptOpenAlgorithmProvider PlatformBCryptOpenAlgorithmProvider
#define BCryptCloseAlgorithmProvider PlatformBCryptCloseAlgorithmProvider
#define BCryptCreateHash PlatformBCryptCreateHash
#define BCryptHashData PlatformBCryptHashData
#define BCryptFinishHash PlatformBCryptFinishHash
#define BCryptDestroyHash PlatformBCryptDestroyHash
#define BCryptImportKeyPair PlatformBCryptImportKeyPair
#define BCryptDestroyKey PlatformBCryptDestroyKey
#define BCryptVerifySignature PlatformBCryptVerifySignature

NTSTATUS WINAPI PlatformBCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                                    LPCWSTR implementation, ULONG flags);
NTSTATUS WINAPI PlatformBCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS WINAPI PlatformBCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                                         PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                                         ULONG secretSize, ULONG flags);
NTSTATUS WINAPI PlatformBCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size,
                                       ULONG flags);
NTSTATUS WINAPI PlatformBCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size,
                                         ULONG flags);
NTSTATUS WINAPI PlatformBCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS WINAPI PlatformBCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm,
                                            BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                                            BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                                            ULONG flags);
NTSTATUS WINAPI PlatformBCryptDestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS WINAPI PlatformBCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo,
                                              PUCHAR hash, ULONG hashSize, PUCHAR signature,
                                              ULONG signatureSize, ULONG flags);

#else  // host

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t ULONGLONG;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t HRESULT;
typedef LONG LSTATUS;
typedef DWORD LCID;
typedef WORD ATOM;
typedef size_t SIZE_T;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD REGSAM;
typedef char CHAR;
typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* LPCCH;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCWCH;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BOOL* LPBOOL;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HGLOBAL;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HKEY__* HKEY;
typedef struct HDC__* HDC;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;
typedef struct HMENU__* HMENU;
typedef struct HFONT__* HFONT;
typedef void* HCRYPTMSG;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef HKEY* PHKEY;
typedef intptr_t (*FARPROC)();

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

// Error codes the logic names.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_NO_PROC_SLOTS 89L
#define ERROR_DISK_FULL 112L
#define ERROR_OPEN_FAILED 110L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_SEEK_ON_DEVICE 132L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_MORE_DATA 234L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#define ERROR_NO_ASSOCIATION 1155L
#define ERROR_NOT_FOUND 1168L
#define ERROR_SERVICE_NOT_FOUND 1243L
#define ERROR_CANCELLED 1223L
#define ERROR_FILE_CORRUPT 1392L
#define ERROR_INSTALL_USEREXIT 1602L
#define ERROR_INSTALL_FAILURE 1603L
#define ERROR_INSTALL_SERVICE_FAILURE 1601L
#define ERROR_FILE_INVALID 1006L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#define ERROR_DLL_NOT_FOUND 1157L
#define NTE_BAD_KEY ((HRESULT)0x80090003L)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define S_OK ((HRESULT)0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// ---------------------------------------------------------------- kernel

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

DWORD GetLastError();
void SetLastError(DWORD code);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalReAlloc(HLOCAL mem, SIZE_T bytes, UINT flags);
HLOCAL LocalFree(HLOCAL mem);
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalFree(HGLOBAL mem);

LPWSTR GetCommandLineW();
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
HMODULE LoadLibraryExA(LPCSTR name, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000
UINT SetErrorMode(UINT mode);

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
// Only the members the logic sets: a read at an offset of a synchronous handle.
typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;
typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);
BOOL DeleteFileA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR path);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);

#define STARTF_USESHOWWINDOW 0x00000001
typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                    LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                    LPPROCESS_INFORMATION info);
#define STILL_ACTIVE 259
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);

DWORD GetTickCount();
LCID GetUserDefaultLCID();

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, va_list* arguments);

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
BOOL GetVersionExA(LPOSVERSIONINFOA info);

#define CP_ACP 0
#define CP_UTF8 65001
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount, LPSTR multi,
                        int multiSize, LPCCH defaultChar, LPBOOL usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multi, int multiCount, LPWSTR wide,
                        int wideSize);
LPSTR CharNextA(LPCSTR text);
int _mbsicmp(const unsigned char* a, const unsigned char* b);

// ---------------------------------------------------------------- user

#define MB_OK 0x00000000
#define MB_RETRYCANCEL 0x00000005
#define MB_ICONERROR 0x00000010
#define MB_ICONQUESTION 0x00000020
#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
void InitCommonControls();

#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000

#define CS_DBLCLKS 0x0008
#define CS_SAVEBITS 0x0800
#define CS_NOCLOSE 0x0200
#define DLGWINDOWEXTRA 30

#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CAPTION 0x00C00000u
#define WS_SYSMENU 0x00080000u
#define DS_SETFONT 0x40
#define DS_MODALFRAME 0x80
#define DS_CENTER 0x0800

#define WM_PAINT 0x000F
#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define ICON_SMALL 0
#define ICON_BIG 1
#define GWLP_USERDATA (-21)

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PROGRESS_CLASSA "msctls_progress32"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

#pragma pack(push, 2)
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
} DLGTEMPLATE;
#pragma pack(pop)
typedef const DLGTEMPLATE* LPCDLGTEMPLATEA;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

ATOM RegisterClassA(const WNDCLASSA* windowClass);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL MapDialogRect(HWND dialog, LPRECT rect);
#define WM_APP 0x8000
#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_PAINT 0x0020
#define QS_HOTKEY 0x0080
#define QS_RAWINPUT 0x0400
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY | QS_RAWINPUT)
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD GetQueueStatus(UINT flags);
BOOL UpdateWindow(HWND window);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc);
BOOL KillTimer(HWND window, UINT_PTR id);
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
int GetWindowTextA(HWND window, LPSTR buffer, int size);
HWND GetDlgItem(HWND dialog, int id);

// ---------------------------------------------------------------- registry

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_READ 0x20019
#define KEY_WOW64_64KEY 0x0100
#define KEY_QUERY_VALUE 0x0001
#define KEY_WOW64_32KEY 0x0200
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegCloseKey(HKEY key);

// ---------------------------------------------------------------- COM and shell

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, CLSID, IID;
typedef const GUID& REFCLSID;
typedef const GUID& REFIID;

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4

struct IUnknown {
  virtual ULONG Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

// Only the members the launcher calls; the fake platform implements them.
typedef enum TBPFLAG { TBPF_NOPROGRESS = 0, TBPF_INDETERMINATE = 1, TBPF_NORMAL = 2 } TBPFLAG;
struct ITaskbarList3 : IUnknown {
  virtual HRESULT SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total) = 0;
  virtual HRESULT SetProgressState(HWND window, TBPFLAG flags) = 0;
};
struct IMalloc : IUnknown {
  virtual void Free(void* memory) = 0;
};
typedef IMalloc* LPMALLOC;

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID* object);

typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef int(CALLBACK* BFFCALLBACK)(HWND window, UINT message, LPARAM lParam, LPARAM data);
typedef struct _browseinfoA {
  HWND hwndOwner;
  PCIDLIST_ABSOLUTE pidlRoot;
  LPSTR pszDisplayName;
  LPCSTR lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
} BROWSEINFOA, *LPBROWSEINFOA;
#define BFFM_INITIALIZED 1
#define BFFM_SETSELECTIONA (WM_USER + 102)
#define CSIDL_PERSONAL 0x0005
#define CSIDL_FLAG_CREATE 0x8000

PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA info);
BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE list, LPSTR path);
HRESULT SHGetMalloc(LPMALLOC* allocator);

// ---------------------------------------------------------------- crypt32

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000
#define CMSG_CERT_COUNT_PARAM 11
#define CMSG_CERT_PARAM 12

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_OBJID_BLOB, CRYPT_INTEGER_BLOB, CERT_NAME_BLOB, CRYPT_DATA_BLOB;
typedef struct _CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;
// Only the members the launcher reads.
typedef struct _CERT_INFO {
  DWORD dwVersion;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;
typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HANDLE hCertStore;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;
typedef struct _CMSG_STREAM_INFO CMSG_STREAM_INFO, *PCMSG_STREAM_INFO;

HCRYPTMSG CryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType,
                               HCRYPTPROV_LEGACY prov, PCERT_INFO recipient,
                               PCMSG_STREAM_INFO stream);
BOOL CryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD size, BOOL final);
BOOL CryptMsgGetParam(HCRYPTMSG msg, DWORD type, DWORD index, void* data, DWORD* size);
BOOL CryptMsgClose(HCRYPTMSG msg);
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* data, DWORD size);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT cert);

// ---------------------------------------------------------------- bcrypt (CNG)

typedef uint8_t UCHAR;
typedef UCHAR* PUCHAR;
typedef LONG NTSTATUS;
typedef void* BCRYPT_HANDLE;
typedef void* BCRYPT_ALG_HANDLE;
typedef void* BCRYPT_HASH_HANDLE;
typedef void* BCRYPT_KEY_HANDLE;

#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_INVALID_SIGNATURE ((NTSTATUS)0xC000A000L)

#define BCRYPT_RSA_ALGORITHM u"RSA"
#define BCRYPT_SHA256_ALGORITHM u"SHA256"
#define BCRYPT_RSAPUBLIC_BLOB u"RSAPUBLICBLOB"
#define BCRYPT_RSAPUBLIC_MAGIC 0x31415352  // "RSA1"
#define BCRYPT_PAD_PKCS1 0x00000002

// Followed by the public exponent and the modulus, both big-endian (and, in
// private blobs, the primes).
typedef struct _BCRYPT_RSAKEY_BLOB {
  ULONG Magic;
  ULONG BitLength;
  ULONG cbPublicExp;
  ULONG cbModulus;
  ULONG cbPrime1;
  ULONG cbPrime2;
} BCRYPT_RSAKEY_BLOB;
typedef struct _BCRYPT_PKCS1_PADDING_INFO {
  LPCWSTR pszAlgId;
} BCRYPT_PKCS1_PADDING_INFO;

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                     LPCWSTR implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                          ULONG secretSize, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                             LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                             ULONG flags);
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, void* paddingInfo, PUCHAR hash,
                               ULONG hashSize, PUCHAR signature, ULONG signatureSize,
                               ULONG flags);

// ---------------------------------------------------------------- file identity, links, security

// What the elevated hand-off needs to hold what it verified and to delete only
// what it made: share modes and delete access, a file's identity and final
// path, delete disposition through a handle, the process token's elevation,
// and security descriptors written as SDDL.
#define DELETE 0x00010000u
#define SYNCHRONIZE 0x00100000u
#define FILE_LIST_DIRECTORY 0x0001
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_SHARE_DELETE 0x00000004
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_DIR_NOT_EMPTY 145L
#define FILE_NAME_NORMALIZED 0x0

typedef uint8_t BOOLEAN;
typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;
typedef ULONG* PULONG;
typedef void* PSECURITY_DESCRIPTOR;

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags);
// Only the file-system flags are asked for (every other out parameter null).
#define FILE_PERSISTENT_ACLS 0x00000008
BOOL GetVolumeInformationByHandleW(HANDLE file, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                   LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem,
                                   DWORD fileSystemSize);

typedef enum _FILE_INFO_BY_HANDLE_CLASS { FileDispositionInfo = 4 } FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO;
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                DWORD size);

#define TOKEN_QUERY 0x0008
typedef enum _TOKEN_INFORMATION_CLASS { TokenElevation = 20 } TOKEN_INFORMATION_CLASS;
typedef struct _TOKEN_ELEVATION {
  DWORD TokenIsElevated;
} TOKEN_ELEVATION;
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                         PDWORD returned);

#define SDDL_REVISION_1 1
// The descriptor is one LocalAlloc block that the caller frees.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size);

// ---------------------------------------------------------------- threads
//
// A second thread and what two threads need to hand work to each other: a
// lock and a condition variable (the slim reader/writer lock, used
// exclusively, and CONDITION_VARIABLE of Windows). A thread's handle is
// waited on with WaitForSingleObject and closed with CloseHandle. Neither
// the lock nor the condition variable is ever deleted, as on Windows; they
// must not move while in use.

#include <pthread.h>

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD threadId);

typedef struct _RTL_SRWLOCK {
  pthread_mutex_t mutex;
} SRWLOCK, *PSRWLOCK;
typedef struct _RTL_CONDITION_VARIABLE {
  pthread_cond_t condition;
} CONDITION_VARIABLE, *PCONDITION_VARIABLE;

void InitializeSRWLock(PSRWLOCK lock);
void AcquireSRWLockExclusive(PSRWLOCK lock);
void ReleaseSRWLockExclusive(PSRWLOCK lock);
void InitializeConditionVariable(PCONDITION_VARIABLE condition);
// Only INFINITE waits: the launcher never waits with a time-out.
BOOL SleepConditionVariableSRW(PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD milliseconds,
                               ULONG flags);
void WakeConditionVariable(PCONDITION_VARIABLE condition);
void WakeAllConditionVariable(PCONDITION_VARIABLE condition);

#endif  // host

// ---------------------------------------------------------------- our own

// Restricts the DLL search of this process to System32, so that a DLL planted
// beside the launcher (typically in a downloads folder) is never loaded into an
// elevated process. Where the system cannot restrict the search, it removes
// the current directory from it instead. Never fails.
void RestrictDllSearchToSystem32();
