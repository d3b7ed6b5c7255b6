// Fitter's command-line and path rules.
#include "installer/fitter_args.h"

namespace fitter {

std::optional<std::string> FirstTokenOfText(const char* text, size_t (*charLength)(const char*)) {
  if (!text || !*text) return std::nullopt;
  const char* p = text;
  while (*p && *p != ' ') {
    const size_t n = charLength(p);
    for (size_t i = 0; i < n && *p; ++i) ++p;  // a broken lead byte never steps past the end
    if (n == 0) ++p;
  }
  if (*p != ' ') return std::nullopt;
  const std::string token(text, static_cast<size_t>(p - text));
  while (*p == ' ') ++p;
  if (!*p) return std::nullopt;
  return token;
}

std::optional<std::string> FirstTokenOfWords(int count, const char* const* words) {
  if (count < 2 || !words || !words[0] || !*words[0]) return std::nullopt;
  for (int i = 1; i < count; ++i) {
    const std::string_view word = words[i] ? words[i] : "";
    if (word.find_first_not_of(' ') != std::string_view::npos) return std::string(words[0]);
  }
  return std::nullopt;
}

std::string ProgramFolder(const std::string& programPath, char separator) {
  const size_t cut = programPath.rfind(separator);
  if (cut == std::string::npos) return {};
  return programPath.substr(0, cut + 1);
}

std::optional<DriverPaths> DriverFilePaths(const std::string& folder, char separator) {
  DriverPaths paths;
  paths.xp = folder + kXpFolder + separator + kDriverFile;
  paths.plain = folder + kDriverFile;
  if (paths.xp.size() + 1 > kPathBytes) return std::nullopt;
  return paths;
}

std::optional<std::string> BuildArgumentText(const std::string& token, const std::string& driverPath) {
  std::string text = token + ", " + driverPath;
  if (text.size() + 1 > kArgumentTextBytes) return std::nullopt;
  return text;
}

}  // namespace fitter
