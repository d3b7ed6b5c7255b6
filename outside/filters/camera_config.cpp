// Parser of the synthetic camera's configuration string.
#include "outside/filters/camera_config.h"

#include <cctype>
#include <charconv>

namespace filters {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool Same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

template <typename T>
bool Number(std::string_view s, T min, T max, T* out) {
  s = Trim(s);
  T value{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || value < min || value > max) return false;
  *out = value;
  return true;
}

bool Flag(std::string_view s, bool* out) {
  s = Trim(s);
  if (s == "0" || s == "1") {
    *out = s == "1";
    return true;
  }
  return false;
}

bool ParseCapability(std::string_view s, Capability* cap) {
  const size_t colon = s.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = Trim(s.substr(0, colon));
  if (!ParseSubtype(name.data(), name.size(), &cap->subtype)) return false;
  std::string_view rest = s.substr(colon + 1);
  const size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    const std::string_view format = Trim(rest.substr(slash + 1));
    if (Same(format, "vih"))
      cap->format = FormatKind::VideoInfo;
    else if (Same(format, "vih2"))
      cap->format = FormatKind::VideoInfo2;
    else if (Same(format, "other"))
      cap->format = FormatKind::Other;
    else
      return false;
    rest = rest.substr(0, slash);
  }
  const size_t at = rest.find('@');
  if (at != std::string_view::npos) {
    if (!Number<int64_t>(rest.substr(at + 1), 1, 1000000000, &cap->interval)) return false;
    rest = rest.substr(0, at);
  }
  const size_t x = rest.find_first_of("xX");
  if (x == std::string_view::npos ||
      !Number<uint32_t>(rest.substr(0, x), 2, 8192, &cap->width) ||
      !Number<uint32_t>(rest.substr(x + 1), 2, 8192, &cap->height))
    return false;
  return cap->width % 2 == 0 && cap->height % 2 == 0;
}

}  // namespace

bool ParseCameraConfig(std::string_view text, CameraConfig* out, std::string* error) {
  CameraConfig config;
  while (!text.empty()) {
    const size_t end = text.find(';');
    const std::string_view item = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      *error = "no '=' in '" + std::string(item) + "'";
      return false;
    }
    const std::string_view key = Trim(item.substr(0, eq)), value = Trim(item.substr(eq + 1));
    bool ok = true;
    if (Same(key, "caps")) {
      config.caps.clear();
      std::string_view list = value;
      while (ok && !list.empty()) {
        const size_t comma = list.find(',');
        Capability cap;
        ok = ParseCapability(list.substr(0, comma), &cap);
        config.caps.push_back(cap);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      }
      ok = ok && !config.caps.empty();
    } else if (Same(key, "pins")) {
      if (Same(value, "capture"))
        config.pins = PinSet::Capture;
      else if (Same(value, "preview"))
        config.pins = PinSet::Preview;
      else if (Same(value, "both"))
        config.pins = PinSet::Both;
      else
        ok = false;
    } else if (Same(key, "ksobject")) {
      ok = Flag(value, &config.ksObject);
    } else if (Same(key, "tuner")) {
      ok = Flag(value, &config.tuner);
    } else if (Same(key, "fail")) {
      if (Same(value, "none"))
        config.fault = Fault::None;
      else if (Same(value, "bind"))
        config.fault = Fault::Bind;
      else if (Same(value, "run"))
        config.fault = Fault::Run;
      else
        ok = false;
    } else if (Same(key, "lost")) {
      ok = Number<uint32_t>(value, 0, 0xFFFFFFFFu, &config.lostAfter);
    } else if (Same(key, "name")) {
      config.name = std::string(value);
      ok = !config.name.empty();
    } else {
      *error = "unknown key '" + std::string(key) + "'";
      return false;
    }
    if (!ok) {
      *error = "bad value in '" + std::string(item) + "'";
      return false;
    }
  }
  *out = std::move(config);
  return true;
}

}  // namespace filters
