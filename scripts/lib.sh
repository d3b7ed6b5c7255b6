# Shared by scripts/test and scripts/run: messages, the package lists and the installation of
# whatever is missing (Debian 12).

log() { printf '== %s\n' "$*"; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

native_pkgs=(cmake ninja-build g++ googletest libbenchmark-dev libpng-dev libturbojpeg0-dev libjpeg62-turbo-dev python3)
# Both Windows builds: i686 (the deliverables) and x86-64 (run under 64-bit Wine).
windows_pkgs=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
# 64-bit Wine only: these machines cannot execute 32-bit x86 code, so no i386 packages.
wine_pkgs=(wine64 wine)
fuzz_pkgs=(clang-16 libfuzzer-16-dev)

# Installs the named packages that are missing. A mirror in mid-sync can fail some index
# files; the update is retried.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  log "installing: ${missing[*]}"
  if [ "${apt_updated:-0}" = 0 ]; then
    local try
    for try in 1 2 3; do
      $SUDO apt-get update -qq && break
      log "apt-get update failed (attempt $try)"
      sleep 10
    done
    apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Fails, saying why, unless 64-bit Wine starts a Windows program here: the Windows suites are
# part of the test. It tries in a scratch prefix, deleted afterwards.
check_wine64() {
  local dir rc=0
  dir=$(mktemp -d)
  if ! command -v wine >/dev/null || [ ! -x /usr/lib/wine/wine64 ]; then
    log "ERROR: 64-bit Wine is not installed (packages: ${wine_pkgs[*]})"
    rm -rf "$dir"
    return 1
  fi
  WINEPREFIX="$dir/prefix" WINEDEBUG=-all wine cmd /c exit 0 >/dev/null 2>"$dir/err" || rc=$?
  WINEPREFIX="$dir/prefix" wineserver -k 2>/dev/null || true
  if [ "$rc" != 0 ]; then
    log "ERROR: 64-bit Wine cannot run a Windows program here (exit $rc):" "$(tail -3 "$dir/err")"
  fi
  rm -rf "$dir"
  return "$rc"
}


# Creates the Wine prefix $WINEPREFIX unless it exists.
make_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  log "creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
}
