#!/usr/bin/env bash
# Builds tarvex for Windows with MinGW-w64 and runs it under Wine, headless.
#
#   bash scripts/windows.sh [x86_64|i686] [deps|build|test|example|all] [layers]
#
# Installs what is missing (Debian packages, a deb-src entry for the running
# suite), cross-builds SDL2, OpenSSL and GoogleTest from Debian's own
# source packages into a cache outside the tree (rebuilt only when a version
# changes), builds tarvex.dll, the sound back end, tools, tests and the main
# example into build/win-<arch>, and runs the test programs and the example
# under Wine. TARVEX_WIN_CACHE moves the cache (default ~/.cache/tarvex-win).
set -euo pipefail

ARCH=${1:-x86_64}
STEP=${2:-all}
TEST_REGEX=${3:-}
case "$ARCH" in
  x86_64) TRIPLET=x86_64-w64-mingw32; PKG_ARCH=x86-64; SSL_TARGET=mingw64; WINE=wine64 ;;
  # 32-bit OpenSSL without its assembly: the 32-bit assembler refuses the
  # position-independent relocations of its DES code.
  i686) TRIPLET=i686-w64-mingw32; PKG_ARCH=i686; SSL_TARGET="mingw no-asm"; WINE=wine ;;
  *) echo "windows.sh: unknown architecture '$ARCH' (x86_64 or i686)" >&2; exit 2 ;;
esac

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${TARVEX_WIN_CACHE:-$HOME/.cache/tarvex-win}/$ARCH
BUILD=$ROOT/build/win-$ARCH
JOBS=${JOBS:-2}
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

say() { echo "windows.sh: $*"; }

# --- packages ---------------------------------------------------------------
install_packages() {
  local packages=(g++-mingw-w64-$PKG_ARCH-posix binutils-mingw-w64-$PKG_ARCH cmake ninja-build make perl
    pkg-config dpkg-dev xz-utils bzip2 ccache wine openssl socat python3)
  if [ "$ARCH" = x86_64 ]; then
    packages+=(wine64)
  elif [ "$STEP" = deps ] || [ "$STEP" = build ]; then
    : # building needs no 32-bit Wine
  else
    packages+=(wine32)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      say "adding the i386 architecture for wine32"
      $SUDO dpkg --add-architecture i386
      NEED_UPDATE=1
    fi
  fi
  local missing=() p
  for p in "${packages[@]}"; do
    local q=$p
    [ "$p" = wine32 ] && q=wine32:i386
    if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
    say "installing ${missing[*]}"
    $SUDO apt-get update -qq
    [ ${#missing[@]} -gt 0 ] && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  NEED_UPDATE=""
  # 32-bit Wine needs a kernel that runs 32-bit x86 programs. Where it does
  # not, the installed wine32 would also take the place of the 64-bit loader
  # behind `wine`: take it out again and stop with the reason.
  if [[ " ${packages[*]} " == *" wine32 "* ]] && ! wine --version >/dev/null 2>&1; then
    say "this kernel does not run 32-bit x86 programs: wine32 removed again; the 32-bit build can be built here (build step), not run"
    $SUDO apt-get remove -y -qq wine32:i386 libwine:i386 >/dev/null
    exit 3
  fi
}

# The source packages come from the machine's own Debian mirror: a deb-src
# entry is added beside the existing deb entries, for the running suite.
add_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local uri suite
  uri=$(grep -rhsE '^URIs:' /etc/apt/sources.list.d/*.sources | grep -v security | head -n1 | awk '{print $2}')
  [ -z "$uri" ] && uri=$(grep -hsE '^deb ' /etc/apt/sources.list | grep -v security | head -n1 | awk '{print $2}')
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  if [ -z "$uri" ] || [ -z "$suite" ]; then
    echo "windows.sh: no Debian mirror found in /etc/apt to take sources from" >&2
    exit 1
  fi
  say "adding deb-src for $suite from $uri"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$suite" "$suite" | $SUDO tee /etc/apt/sources.list.d/tarvex-win-src.sources >/dev/null
  uri=$(grep -rhsE '^URIs:' /etc/apt/sources.list.d/*.sources | grep security | head -n1 | awk '{print $2}')
  if [ -n "$uri" ]; then
    printf '\nTypes: deb-src\nURIs: %s\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" "$suite" | $SUDO tee -a /etc/apt/sources.list.d/tarvex-win-src.sources >/dev/null
  fi
  $SUDO apt-get update -qq
}

# A mirror may lack an upstream tarball's detached signature (.asc) while
# holding the tarball itself: the package is then unpacked from the files
# that did download, their checksums still checked against the .dsc.
unpack_unsigned() {
  local dsc
  dsc=$(ls ./*.dsc 2>/dev/null | head -n1)
  [ -n "$dsc" ] || return 1
  grep -v '\.orig[-a-z0-9]*\.tar\.[a-z0-9]*\.asc$' "$dsc" >without-asc.dsc
  dpkg-source -x without-asc.dsc >/dev/null 2>&1
}

# Chooses the version of a source package to build: the newest the sources
# offer that is built in the cache already, else the newest that downloads
# (a mirror may list versions whose files it lacks). Sets VERSION and, when
# it had to be fetched, SRC (the unpacked folder, Debian's patches applied).
pick_source() {
  local name=$1 v versions
  versions=$(apt-cache showsrc --only-source "$name" | awk '/^Version:/{print $2}' | sort -rV | uniq)
  VERSION="" SRC=""
  for v in $versions; do
    if [ -f "$CACHE/$name-$v/.done" ]; then
      VERSION=$v
      return
    fi
  done
  for v in $versions; do
    rm -rf "$CACHE/src/$name-$v"
    mkdir -p "$CACHE/src/$name-$v"
    if (cd "$CACHE/src/$name-$v" && { apt-get source -qq "$name=$v" >/dev/null 2>&1 || unpack_unsigned; }); then
      VERSION=$v
      SRC=$(find "$CACHE/src/$name-$v" -mindepth 1 -maxdepth 1 -type d | head -n1)
      return
    fi
    rm -rf "$CACHE/src/$name-$v"
  done
  echo "windows.sh: no version of the source package $name could be fetched" >&2
  exit 1
}

TOOLCHAIN=$ROOT/cmake/mingw-w64-$ARCH.cmake

# Each dependency is installed into a prefix of its own named after its
# version; a finished build leaves a stamp, so a second run skips it.
build_cmake_dep() {
  local name=$1 prefix=$2
  shift 2
  rm -rf "$CACHE/build-$name"
  cmake -S "$SRC" -B "$CACHE/build-$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >/dev/null
  cmake --build "$CACHE/build-$name" -j"$JOBS" >/dev/null
  cmake --install "$CACHE/build-$name" >/dev/null
  rm -rf "$CACHE/build-$name"
}

# Builds one dependency with the given function when its version is not in
# the cache yet; PREFIX is its folder either way.
build_dep() {
  local name=$1 label=$2 builder=$3 t=$SECONDS
  pick_source "$name"
  PREFIX=$CACHE/$name-$VERSION
  [ -n "$SRC" ] || return 0
  say "building $label $VERSION"
  "$builder"
  touch "$PREFIX/.done"
  say "$label built in $((SECONDS - t)) s"
}

build_sdl2() { build_cmake_dep libsdl2 "$PREFIX" -DSDL_TEST=OFF -DSDL_STATIC=OFF -DSDL_SHARED=ON; }
build_googletest() { build_cmake_dep googletest "$PREFIX" -DBUILD_GMOCK=ON -DBUILD_SHARED_LIBS=OFF; }

build_openssl() {
  rm -rf "$CACHE/build-openssl"
  cp -a "$SRC" "$CACHE/build-openssl"
  (cd "$CACHE/build-openssl" &&
    ./Configure $SSL_TARGET --cross-compile-prefix="$TRIPLET-" --prefix="$PREFIX" --libdir=lib \
      no-tests shared >/dev/null &&
    make -j"$JOBS" build_libs >"$CACHE/openssl-build.log" 2>&1 &&
    make install_dev install_runtime_libs >>"$CACHE/openssl-build.log" 2>&1) ||
    { tail -n 30 "$CACHE/openssl-build.log" >&2; exit 1; }
  rm -rf "$CACHE/build-openssl"
}

# FreeType for the font builder, without the optional libraries it can use
# (compressed fonts, PNG glyphs, shaping): TrueType and OpenType outlines
# need none of them.
build_freetype() {
  build_cmake_dep freetype "$PREFIX" -DBUILD_SHARED_LIBS=ON -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON \
    -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
}

# libmpg123 for the sound back end's MP3 streams: the decoder library alone
# (not the output library or the programs), portable C without hand-written
# assembly.
build_mpg123() {
  rm -rf "$CACHE/build-mpg123"
  mkdir -p "$CACHE/build-mpg123"
  (cd "$CACHE/build-mpg123" &&
    "$SRC/configure" --host="$TRIPLET" --prefix="$PREFIX" --disable-static --enable-shared \
      --with-audio=dummy --with-default-audio=dummy --disable-modules --with-cpu=generic_fpu \
      >"$CACHE/mpg123-build.log" 2>&1 &&
    make -j"$JOBS" src/libmpg123/libmpg123.la >>"$CACHE/mpg123-build.log" 2>&1 &&
    mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include" &&
    cp src/libmpg123/.libs/libmpg123-*.dll "$PREFIX/bin/" &&
    cp src/libmpg123/.libs/libmpg123.dll.a "$PREFIX/lib/" &&
    cp src/libmpg123/mpg123.h "$SRC/src/libmpg123/fmt123.h" "$PREFIX/include/" &&
    cp libmpg123.pc "$PREFIX/lib/pkgconfig/") ||
    { tail -n 30 "$CACHE/mpg123-build.log" >&2; exit 1; }
  rm -rf "$CACHE/build-mpg123"
}

build_deps() {
  install_packages
  add_deb_src
  mkdir -p "$CACHE"
  build_dep libsdl2 SDL2 build_sdl2
  SDL_PREFIX=$PREFIX
  build_dep googletest GoogleTest build_googletest
  GTEST_PREFIX=$PREFIX
  build_dep openssl OpenSSL build_openssl
  SSL_PREFIX=$PREFIX
  build_dep freetype FreeType build_freetype
  FT_PREFIX=$PREFIX
  build_dep mpg123 libmpg123 build_mpg123
  MPG_PREFIX=$PREFIX
  rm -rf "$CACHE/src"
  DEP_PREFIXES="$SDL_PREFIX;$SSL_PREFIX;$GTEST_PREFIX;$FT_PREFIX;$MPG_PREFIX"
  export PKG_CONFIG_LIBDIR="$SSL_PREFIX/lib/pkgconfig:$FT_PREFIX/lib/pkgconfig:$MPG_PREFIX/lib/pkgconfig"
}

# The DLLs every program needs beside it: the dependencies' and the
# compiler's run-time libraries.
copy_runtime() {
  mkdir -p "$BUILD/bin"
  local gccdir
  gccdir=$(dirname "$("$TRIPLET-g++-posix" -print-libgcc-file-name)")
  cp -u "$SDL_PREFIX"/bin/*.dll "$SSL_PREFIX"/bin/*.dll "$FT_PREFIX"/bin/*.dll "$MPG_PREFIX"/bin/*.dll "$BUILD/bin/"
  cp -u "$gccdir"/libstdc++-6.dll "$gccdir"/libgcc_s_*.dll "/usr/$TRIPLET/lib/libwinpthread-1.dll" "$BUILD/bin/"
}

build_tarvex() {
  local t=$SECONDS launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Programs and DLLs land in one folder, as a Windows installation has them.
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_ROOT_PATH="$DEP_PREFIXES" -DOPENSSL_ROOT_DIR="$SSL_PREFIX" \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$BUILD/bin" -DTARVEX_WERROR=ON "${launcher[@]}" >/dev/null
  # Only the named targets when given (a test run of some layers), else all.
  cmake --build "$BUILD" -j"$JOBS" ${1:+--target $1}
  copy_runtime
  say "tarvex built in $((SECONDS - t)) s"
}

# Wine without a display: SDL's offscreen video and dummy audio drivers.
wine_env() {
  export WINEPREFIX=${WINEPREFIX:-$CACHE/wine}
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Linux peers for the Windows socket tests: an echo relay and a TLS server
# that answers each line reversed, on loopback ports chosen now.
PEER_PIDS=()
start_peers() {
  local dir=$BUILD/peers
  mkdir -p "$dir"
  [ -f "$dir/cert.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=localhost \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
  TARVEX_PEER_ECHO_PORT=$(free_port)
  socat TCP-LISTEN:"$TARVEX_PEER_ECHO_PORT",bind=127.0.0.1,reuseaddr,fork EXEC:cat &
  PEER_PIDS+=($!)
  TARVEX_PEER_TLS_PORT=$(free_port)
  # Its input stays open (a pipe this script holds) so it keeps serving.
  rm -f "$dir/stdin"
  mkfifo "$dir/stdin"
  openssl s_server -accept "127.0.0.1:$TARVEX_PEER_TLS_PORT" -cert "$dir/cert.pem" -key "$dir/key.pem" \
    -rev -quiet <"$dir/stdin" >/dev/null 2>&1 &
  PEER_PIDS+=($!)
  exec 9>"$dir/stdin"
  export TARVEX_PEER_ECHO_PORT TARVEX_PEER_TLS_PORT
  trap stop_peers EXIT
  sleep 1
}
stop_peers() {
  local pid
  for pid in "${PEER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  PEER_PIDS=()
}

# Runs the test programs of the given layers (all by default) under Wine,
# each once with all of its tests.
run_tests() {
  wine_env
  start_peers
  local layers=$1 failed=() prog name
  [ -z "$layers" ] && layers=$(cd "$BUILD/bin" && ls tarvex_tests_*.exe | sed 's/tarvex_tests_//; s/\.exe$//' | tr '\n' ',')
  for name in ${layers//,/ }; do
    prog=$BUILD/bin/tarvex_tests_$name.exe
    if [ ! -f "$prog" ]; then
      say "no test program for '$name'"
      failed+=("$name")
      continue
    fi
    say "running tarvex_tests_$name under wine"
    local t=$SECONDS
    if (cd "$BUILD/bin" && timeout 900 wine "$prog" --gtest_brief=1 2>&1 | tr -d '\r'); then
      say "tarvex_tests_$name passed in $((SECONDS - t)) s"
    else
      failed+=("$name")
    fi
  done
  if [ ${#failed[@]} -gt 0 ]; then
    say "failed: ${failed[*]}"
    return 1
  fi
}

# Runs the main example under Wine from the top of the tree (it reads data/),
# with an FTP server on the Linux side serving the folder its FTP step
# downloads from (Windows has no fork to start one from the example).
run_example() {
  wine_env
  local folder=/tmp/tarvex-demo port pid rc=0
  mkdir -p "$folder/ftp-served"
  port=$(free_port)
  /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -d "$folder/ftp-served" >/dev/null 2>&1 &
  pid=$!
  PEER_PIDS+=($pid)
  trap stop_peers EXIT
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  say "running tarvex_demo under wine (FTP server on port $port)"
  # Its sound goes to SDL's disk driver, as on Linux without a display.
  (cd "$ROOT" && unset SDL_AUDIODRIVER && TMPDIR= TARVEX_DEMO_FTP_PORT=$port timeout 600 \
    wine "$BUILD/bin/tarvex_demo.exe" 2>&1 | tr -d '\r') || rc=$?
  stop_peers
  [ "$rc" = 0 ] && say "tarvex_demo passed, pictures in $folder" || say "tarvex_demo failed"
  return "$rc"
}

T0=$SECONDS
case "$STEP" in
  deps) build_deps ;;
  build) build_deps; build_tarvex ;;
  test)
    build_deps
    build_tarvex "$(for l in ${TEST_REGEX//,/ }; do printf 'tarvex_tests_%s ' "$l"; done)"
    run_tests "$TEST_REGEX"
    ;;
  example) build_deps; build_tarvex "tarvex tarvexsnd tarvex_demo"; run_example ;;
  all) build_deps; build_tarvex; run_tests "$TEST_REGEX"; run_example ;;
  *) echo "windows.sh: unknown step '$STEP'" >&2; exit 2 ;;
esac
say "done in $((SECONDS - T0)) s"
