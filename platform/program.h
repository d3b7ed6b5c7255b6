// The running program: its command line, its file, and the few facts of the Windows shell
// that an installer program hands on (instance, show command, active window, version).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

#ifdef _WIN32
#define PLATFORM_STDCALL __attribute__((stdcall))
inline constexpr char kPathSeparator = '\\';
inline constexpr bool kCommandLineIsText = true;
inline constexpr bool kWindowsBuild = true;
#else
#define PLATFORM_STDCALL
inline constexpr char kPathSeparator = '/';
inline constexpr bool kCommandLineIsText = false;
inline constexpr bool kWindowsBuild = false;
#endif

// Linux: the Windows version IsWindowsVersion reports ("5.1"); unset, no version matches.
constexpr const char* kWindowsVersionVariable = "KESTREL_WINDOWS_VERSION";

// Windows: the text after the program's name in GetCommandLineA (what WinMain gets);
// Linux: the arguments after argv[0] joined by blanks (programs there take separate words).
std::string CommandLineTail();

// The whole command line: GetCommandLineA; on Linux the arguments joined by blanks.
std::string WholeCommandLine();

// The length in bytes of the character at `text` in the active multibyte code page
// (CharNextA); 1 on Linux, where text is taken byte by byte.
size_t CharacterLength(const char* text);

// GetModuleFileNameA of the program into `out` (`size` bytes with the terminator). False,
// with `out` emptied, when the path does not fit or cannot be found.
bool ProgramFilePath(char* out, size_t size);

// PathFileExistsA.
bool PathExists(const char* path);

// VerifyVersionInfoA with VER_EQUAL on the major and minor version. Linux has no Windows
// version: KESTREL_WINDOWS_VERSION stands in ("5.1").
bool IsWindowsVersion(unsigned major, unsigned minor);

// Sets the Windows version ("5.1"; null removes the setting) that programs of the file name
// `programFileName` ("Fitter.exe") started from now on see. Linux: KESTREL_WINDOWS_VERSION
// (whatever the name). Wine: the prefix's per-program version setting. Windows itself: not
// possible, false.
bool SetReportedWindowsVersion(const char* programFileName, const char* version);

// True inside Wine (its ntdll exports wine_get_version); false on Windows and Linux.
bool RunningUnderWine();

// The program's module instance (HINSTANCE), the show command it was started with
// (STARTUPINFO's, else SW_SHOWDEFAULT), the active window (GetActiveWindow, may be null).
// Linux: null, 10 and null.
void* ProgramInstance();
int ProgramShowCommand();
void* ActiveWindow();

// The user this process runs as (GetUserNameW; the passwd name of the effective uid).
std::string CurrentUserName();

}  // namespace platform
