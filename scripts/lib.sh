# Shared by scripts/test and scripts/run: messages, the package lists and the installation of
# whatever is missing (Debian 12).

log() { printf '== %s\n' "$*"; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

native_pkgs=(cmake ninja-build g++ googletest libbenchmark-dev libpng-dev libturbojpeg0-dev libjpeg62-turbo-dev python3)
win32_pkgs=(g++-mingw-w64-i686-posix mingw-w64-i686-dev)
wine_pkgs=(wine wine32:i386)
win64_pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
wine64_pkgs=(wine wine64)
fuzz_pkgs=(clang-16 libfuzzer-16-dev)

# Installs the named packages that are missing. A mirror in mid-sync can fail some index
# files; the update is retried, and the install then uses whatever indexes it got.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  log "installing: ${missing[*]}"
  if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    apt_updated=0
  fi
  if [ "${apt_updated:-0}" = 0 ]; then
    local try
    for try in 1 2 3; do
      $SUDO apt-get update -qq && break
      log "apt-get update failed (attempt $try)"
      sleep 10
    done
    apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null && return 0
  # i386 and amd64 copies of a library must have the same version. When the security
  # index of one architecture is missing or stale, take both from the release itself.
  log "install failed; retrying with the packages of the release itself"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
    -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" "${missing[@]}" >/dev/null
}


# Creates the Wine prefix $WINEPREFIX unless it exists.
make_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  log "creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
}
