// Fitter's command-line and path rules, apart from the program's entry so tests can call them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace fitter {

// Sizes of the argument text and of a path, terminators included.
constexpr size_t kArgumentTextBytes = 520;
constexpr size_t kPathBytes = 260;

constexpr const char* kDriverFile = "OruVCam.inf";
constexpr const char* kXpFolder = "XP";

// The text form: the characters before the first blank when blanks follow it and then at
// least one further character; nullopt otherwise (also for a null text). `charLength`
// gives the byte length of the character at a position (the active code page's rule).
std::optional<std::string> FirstTokenOfText(const char* text, size_t (*charLength)(const char*));

// The separate-words form: the first word when at least one further word holds a character
// other than a blank; nullopt otherwise. `words` excludes the program's name.
std::optional<std::string> FirstTokenOfWords(int count, const char* const* words);

// The program's path cut after its last separator, ending in a separator when not empty.
std::string ProgramFolder(const std::string& programPath, char separator);

// The paths Fitter may use; nullopt when the longer (XP) one would not fit a path buffer.
struct DriverPaths {
  std::string xp;
  std::string plain;
};
std::optional<DriverPaths> DriverFilePaths(const std::string& folder, char separator);

// token + ", " + path, or nullopt when it would not fit the argument text.
std::optional<std::string> BuildArgumentText(const std::string& token, const std::string& driverPath);

}  // namespace fitter
