// The log and trace channels and the registry helpers every part of Kestrel reports and
// reads its settings through. Both channels are switched on in the registry; neither ever
// reports its own failures.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/registry.h"

// 1 when the log switch ("Log" under "SOFTWARE\Quillon\OruVCapture\") is set. Read from the
// registry until the key could be opened once; that first answer then stays in force.
int IsLogEnabled();

// Appends "%-10s\t%s - %s\n" (local time "%X", "KESTREL", message) to
// "c:\QuillonVCapture.log" when the log channel is on. The message is written unchanged.
void WriteLogLine(const char* message);

// printf-style; cut at 510 characters, a newline appended, then WriteLogLine.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style (UTF-8, %s takes a char string); when the trace channel is on, sends the
// text to the debugger output, trims CR/LF from both ends and appends it with CR LF to the
// UTF-16 file "C:\QuillonVCapture\Log.txt". Cut at 511 characters.
void TraceMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends UTF-16 `text` (and CR LF when addLineEnd) to the file at the Windows `path`,
// recreating it with the FF FE mark when it is empty, lacks the mark or has reached 20 MiB.
// Always returns 1.
int AppendTraceFile(const char* path, std::u16string_view text, bool addLineEnd);

// The value's data when the key opens, the query succeeds and the type is REG_DWORD; else
// `defaultValue`.
uint32_t ReadRegistryDword(platform::RegistryRoot root, const char* subkey, const char* valueName,
                           uint32_t defaultValue);

// Like ReadRegistryDword but 1 for non-zero data, 0 for zero; a key that cannot be opened
// is traced ("Kestrel--Failed to open key: %s!Error Code = %d\n") and gives the default.
uint32_t ReadRegistryFlag(platform::RegistryRoot root, const char* subkey, const char* valueName,
                          uint32_t defaultValue);

// 1 when the value exists as REG_SZ and fits `outBytes` bytes of `out` (terminator
// included); otherwise copies `defaultValue` (when given) into `out` and returns 0. A null
// `out` returns 0 at once.
int ReadRegistryString(platform::RegistryRoot root, const char* subkey, const char* valueName,
                       const char16_t* defaultValue, char16_t* out, uint32_t outBytes);

// "Resize" under "SOFTWARE\Quillon\Velmora", default 0.
uint32_t ReadResizeMode();

// Tests only: forgets every cached switch, as a fresh load of the library would.
void ResetDiagnosticSwitchesForTesting();
