#!/usr/bin/env bash
# Cross-builds Kavetta's third-party libraries for 32-bit Windows with the
# Debian MinGW-w64 (i686, posix threads) toolchain, from Debian's own source
# packages:
#
#   openssl     -> lib/libssl.a, lib/libcrypto.a, include/openssl/
#   curl        -> lib/libcurl.a, include/curl/        (OpenSSL back-end, zlib)
#   libjsoncpp  -> lib/libjsoncpp.a, include/json/
#   zlib        -> lib/libminizip.a, include/minizip/  (contrib/minizip only;
#                                                       zlib itself comes from
#                                                       libz-mingw-w64-dev)
#   7zip        -> bin/7z.dll                          (Format7zF bundle)
#
# Usage: scripts/build-deps.sh [PREFIX]        (default: /opt/kavetta-deps)
#
# Runs as root (it edits apt sources and may install build tools). Sources
# and build trees live under $KAVETTA_DEPS_WORK (default
# /var/cache/kavetta-deps), never inside the checkout. JOBS overrides the
# parallelism (default: nproc); KEEP_BUILD=1 keeps the build trees (they
# are removed after a successful build, the downloads and logs are kept).
#
# Each library gets a stamp in PREFIX/share/kavetta-deps/ holding the source
# package version, the recipe number below and the toolchain versions. A
# library whose stamp still matches is left alone: a run where everything is
# current touches neither apt nor the network and takes a second or two.
#
# Linking a consumer statically (consumers must define CURL_STATICLIB):
#
#   -I$PREFIX/include   -L$PREFIX/lib
#   -lcurl -lssl -lcrypto -ljsoncpp -lminizip -lz
#   -lws2_32 -lcrypt32 -lbcrypt -ladvapi32 -lgdi32 -luser32
#
# libcurl needs ws2_32 (sockets), crypt32 + advapi32 (Windows certificate
# store for CURLSSLOPT_NATIVE_CA, CryptAcquireContext) and bcrypt (its random
# source on mingw-w64); libcrypto needs ws2_32, crypt32, advapi32 and gdi32.
# -lminizip must come before -lz; -lz resolves to Debian's static
# /usr/i686-w64-mingw32/lib/libz.a when linking with -static.
#
# 7z.dll is loaded at run time (LoadLibrary + GetProcAddress("CreateObject"))
# and only imports Windows system DLLs.

set -euo pipefail

PREFIX=${1:-/opt/kavetta-deps}
WORK=${KAVETTA_DEPS_WORK:-/var/cache/kavetta-deps}
JOBS=${JOBS:-$(nproc)}

HOST=i686-w64-mingw32
CC_X=$HOST-gcc-posix
CXX_X=$HOST-g++-posix
AR_X=$HOST-ar
RANLIB_X=$HOST-ranlib
WINDRES_X=$HOST-windres
OBJDUMP_X=$HOST-objdump
STRIP_X=$HOST-strip
MINGW_SYSROOT=/usr/$HOST

# Order matters: curl is built against the OpenSSL installed before it.
LIBS=(openssl curl jsoncpp minizip 7zip)

declare -A SRCPKG=(
    [openssl]=openssl
    [curl]=curl
    [jsoncpp]=libjsoncpp
    [minizip]=zlib
    [7zip]=7zip
)

# Bump a library's number whenever its build recipe below changes, so the
# next run rebuilds it even though the source version is the same.
declare -A RECIPE=(
    [openssl]=2
    [curl]=1
    [jsoncpp]=1
    [minizip]=1
    [7zip]=1
)

# Files that must exist in PREFIX for a stamp to count.
declare -A OUTPUTS=(
    [openssl]="lib/libssl.a lib/libcrypto.a include/openssl/ssl.h"
    [curl]="lib/libcurl.a include/curl/curl.h"
    [jsoncpp]="lib/libjsoncpp.a include/json/json.h"
    [minizip]="lib/libminizip.a include/minizip/unzip.h include/minizip/zip.h"
    [7zip]="bin/7z.dll"
)

BUILD_TOOLS=(
    make perl patch xz-utils bzip2 dpkg-dev cmake
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
    binutils-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
)

STAMPS=$PREFIX/share/kavetta-deps
SRC_CACHE=$WORK/sources
BUILD_ROOT=$WORK/build
LOG_DIR=$WORK/logs
TOOLCHAIN_FILE=$WORK/mingw-i686.cmake

APT_UPDATED=0

# ---------------------------------------------------------------- helpers

msg()  { printf '==> %s\n' "$*"; }
note() { printf '    %s\n' "$*"; }
warn() { printf 'warning: %s\n' "$*" >&2; }
die()  { printf 'error: %s\n' "$*" >&2; exit 1; }

# Runs a command with its output going to a log; on failure shows the tail
# of the log and stops.
run_logged() {
    local log=$1 what=$2
    shift 2
    if ! "$@" >>"$log" 2>&1; then
        # With make -j the first error is often followed by other jobs'
        # output, so show it separately from the tail.
        printf 'error: %s failed. First errors in %s:\n' "$what" "$log" >&2
        grep -m 10 -E '(error|Error|ERROR)[: ]|fatal' "$log" >&2 || true
        printf -- '--- last lines:\n' >&2
        tail -n 25 "$log" >&2
        exit 1
    fi
}

pkg_version() {
    dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true
}

pkg_installed() {
    [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == "install ok installed" ]]
}

apt_busy() {
    local p
    for p in apt apt-get dpkg unattended-upgr; do
        pgrep -x "$p" >/dev/null 2>&1 && return 0
    done
    return 1
}

# apt is often busy right after a machine comes up (another install, the
# daily timers); wait for it instead of failing on the lock.
wait_for_apt() {
    local waited=0
    while apt_busy; do
        if (( waited == 0 )); then
            note "waiting for another apt/dpkg process to finish"
        fi
        sleep 3
        waited=$(( waited + 3 ))
        (( waited < 1800 )) || die "apt/dpkg has been busy for 30 minutes; giving up"
    done
}

apt_get() {
    wait_for_apt
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

apt_update() {
    msg "apt-get update"
    apt_get update -q >"$LOG_DIR/apt-update.log" 2>&1 ||
        { tail -n 20 "$LOG_DIR/apt-update.log" >&2; die "apt-get update failed"; }
    APT_UPDATED=1
}

# Newest first, by Debian's version ordering.
sort_versions_desc() {
    local -a out=()
    local v i j tmp
    while read -r v; do
        [[ -n $v ]] || continue
        for tmp in "${out[@]}"; do [[ $tmp == "$v" ]] && continue 2; done
        out+=("$v")
        i=$(( ${#out[@]} - 1 ))
        while (( i > 0 )); do
            j=$(( i - 1 ))
            if dpkg --compare-versions "${out[i]}" gt "${out[j]}"; then
                tmp=${out[j]}; out[j]=${out[i]}; out[i]=$tmp
                i=$j
            else
                break
            fi
        done
    done
    (( ${#out[@]} == 0 )) || printf '%s\n' "${out[@]}"
}

# Source versions apt knows about locally (no network), newest first.
source_versions() {
    { apt-cache showsrc --only-source "$1" 2>/dev/null || true; } |
        awk '/^Version:/ { print $2 }' | sort_versions_desc
}

# The mirror sometimes lists a source version (typically a fresh security
# update) whose files it does not serve. Such versions are remembered for
# UNAVAILABLE_RETRY seconds (default a day) so that runs in between neither
# try them again nor treat the older build as out of date.
UNAVAILABLE_RETRY=${UNAVAILABLE_RETRY:-86400}

unavailable_file() { echo "$SRC_CACHE/$1/unavailable"; }

mark_unavailable() {
    local f
    f=$(unavailable_file "$1")
    mkdir -p "${f%/*}"
    { grep -v "^$2 " "$f" 2>/dev/null || true; echo "$2 $(date +%s)"; } >"$f.tmp"
    mv "$f.tmp" "$f"
}

recently_unavailable() {
    local f when
    f=$(unavailable_file "$1")
    [[ -f $f ]] || return 1
    when=$(awk -v v="$2" '$1 == v { print $2 }' "$f" | tail -n 1)
    [[ -n $when ]] && (( $(date +%s) - when < UNAVAILABLE_RETRY ))
}

# Source versions worth trying, newest first.
candidate_versions() {
    local v
    while read -r v; do
        recently_unavailable "$1" "$v" || echo "$v"
    done < <(source_versions "$1")
}

# ---------------------------------------------------------------- stamps

stamp_file() { echo "$STAMPS/$1.stamp"; }

# Everything except the source version that the build depends on.
stamp_context() {
    local lib=$1
    echo "recipe=${RECIPE[$lib]}"
    echo "prefix=$PREFIX"
    echo "gcc=$(pkg_version gcc-mingw-w64-i686-posix)"
    echo "g++=$(pkg_version g++-mingw-w64-i686-posix)"
    echo "mingw-w64=$(pkg_version mingw-w64-i686-dev)"
    case $lib in
        curl)
            echo "zlib=$(pkg_version libz-mingw-w64-dev)"
            echo "openssl=$(stamp_field openssl version)/$(stamp_field openssl recipe)"
            ;;
        minizip)
            echo "zlib=$(pkg_version libz-mingw-w64-dev)"
            ;;
    esac
}

stamp_field() {
    local f
    f=$(stamp_file "$1")
    [[ -f $f ]] || return 0
    sed -n "s/^$2=//p" "$f" | head -n 1
}

outputs_present() {
    local f
    for f in ${OUTPUTS[$1]}; do
        [[ -e $PREFIX/$f ]] || return 1
    done
}

# stamp_current LIB [VERSION]
# True when LIB's stamp matches the current toolchain and recipe and its
# outputs are installed. With VERSION, the stamped source version must be
# exactly that; without it, it must not be older than the newest source
# version apt knows locally (or anything, if apt knows none).
stamp_current() {
    local lib=$1 want=${2:-} f have newest
    f=$(stamp_file "$lib")
    [[ -f $f ]] || return 1
    outputs_present "$lib" || return 1
    [[ "$(grep -v '^version=' "$f")" == "$(stamp_context "$lib")" ]] || return 1
    have=$(stamp_field "$lib" version)
    [[ -n $have ]] || return 1
    if [[ -n $want ]]; then
        [[ $have == "$want" ]]
        return
    fi
    newest=$(candidate_versions "${SRCPKG[$lib]}" | head -n 1)
    [[ -z $newest ]] || dpkg --compare-versions "$have" ge "$newest"
}

write_stamp() {
    local lib=$1 version=$2
    mkdir -p "$STAMPS"
    { echo "version=$version"; stamp_context "$lib"; } >"$(stamp_file "$lib").tmp"
    mv "$(stamp_file "$lib").tmp" "$(stamp_file "$lib")"
}

# ---------------------------------------------------------------- setup

ensure_build_tools() {
    local -a missing=()
    local p
    for p in "${BUILD_TOOLS[@]}"; do
        pkg_installed "$p" || missing+=("$p")
    done
    (( ${#missing[@]} == 0 )) && return 0
    msg "installing build tools: ${missing[*]}"
    if ! apt_get install -y -q --no-install-recommends "${missing[@]}" \
            >"$LOG_DIR/apt-install.log" 2>&1; then
        # Stale package lists are the usual cause; refresh once and retry.
        apt_update
        apt_get install -y -q --no-install-recommends "${missing[@]}" \
            >>"$LOG_DIR/apt-install.log" 2>&1 ||
            { tail -n 20 "$LOG_DIR/apt-install.log" >&2; die "could not install build tools: ${missing[*]}"; }
    fi
}

# Makes sure apt has deb-src entries for Debian's archive. Prints "changed"
# when it had to edit the sources.
ensure_deb_src() {
    local f=/etc/apt/sources.list.d/debian.sources
    # shellcheck disable=SC2016 # $(CREATED_BY) is apt's syntax, not the shell's
    if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
        return 0
    fi
    if [[ -f $f ]] && grep -q '^Types:' "$f"; then
        # deb822: add deb-src to every stanza's Types line that lacks it.
        sed -i -E '/^Types:/{/[[:space:]]deb-src([[:space:]]|$)/!s/[[:space:]]*$/ deb-src/}' "$f"
        echo changed
        return 0
    fi
    if [[ -f /etc/apt/sources.list ]] && grep -qE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list; then
        # One-line format: mirror the deb lines as deb-src in a file of our own.
        sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list \
            >/etc/apt/sources.list.d/kavetta-deb-src.list
        echo changed
        return 0
    fi
    die "found no Debian apt sources to add deb-src entries to"
}

write_toolchain_file() {
    cat >"$TOOLCHAIN_FILE.tmp" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER $CC_X)
set(CMAKE_CXX_COMPILER $CXX_X)
set(CMAKE_RC_COMPILER $WINDRES_X)
set(CMAKE_AR /usr/bin/$AR_X CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/$RANLIB_X CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH $MINGW_SYSROOT $PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
    mv "$TOOLCHAIN_FILE.tmp" "$TOOLCHAIN_FILE"
}

# ---------------------------------------------------------------- sources

# fetch_source LIB: downloads (or reuses the cached download of) the newest
# source version of LIB's package that the mirror actually serves, and sets
# SRC_VERSION and SRC_DSC. Security updates sometimes list a version whose
# files are not on the mirror (yet); older versions are tried in turn.
fetch_source() {
    local lib=$1 pkg=${SRCPKG[$1]} v dir log attempt
    local -a versions
    SRC_VERSION='' SRC_DSC=
    for attempt in 1 2; do
        mapfile -t versions < <(candidate_versions "$pkg")
        # After a refresh, give the remembered failures another chance.
        (( ${#versions[@]} > 0 || attempt == 1 )) || mapfile -t versions < <(source_versions "$pkg")
        if (( ${#versions[@]} == 0 )); then
            if (( APT_UPDATED == 0 )); then apt_update; continue; fi
            die "could not download the $pkg source package: apt knows no source package of that name (are the deb-src entries in place?)"
        fi
        for v in "${versions[@]}"; do
            dir=$SRC_CACHE/$pkg/${v//:/_}
            if [[ -f $dir/.complete ]]; then
                note "$pkg $v: using the cached download"
            else
                msg "downloading the $pkg $v source package"
                rm -rf "$dir"
                mkdir -p "$dir"
                log=$LOG_DIR/download-$pkg.log
                : >"$log"
                if ! (cd "$dir" && apt_get source -q --download-only \
                        -o APT::Sandbox::User=root "$pkg=$v") >>"$log" 2>&1; then
                    warn "$pkg $v did not download ($(grep -m1 -oE '\b[45][0-9]{2} +[A-Z][A-Za-z ]*[a-z]' "$log" || echo "see $log")); trying an older version"
                    rm -rf "$dir"
                    mark_unavailable "$pkg" "$v"
                    continue
                fi
                touch "$dir/.complete"
            fi
            SRC_DSC=$(find "$dir" -maxdepth 1 -name '*.dsc' | head -n 1)
            [[ -n $SRC_DSC ]] || die "the $pkg $v download has no .dsc file"
            SRC_VERSION=$v
            # Only the version in use is worth keeping.
            find "$SRC_CACHE/$pkg" -mindepth 1 -maxdepth 1 -type d ! -path "$dir" \
                -exec rm -rf {} +
            return 0
        done
        # Every version failed: the lists may be stale. Refresh once and retry.
        (( APT_UPDATED == 0 )) || break
        apt_update
    done
    die "could not download the $pkg source package (tried: ${versions[*]})"
}

# unpack_source LIB: unpacks the fetched source (with Debian's patches
# applied) into a fresh build tree and sets SRC_DIR.
unpack_source() {
    local lib=$1
    local top=$BUILD_ROOT/$lib
    rm -rf "$top"
    mkdir -p "$top"
    SRC_DIR=$top/src
    run_logged "$LOG_DIR/$lib.log" "unpacking the ${SRCPKG[$lib]} source package" \
        dpkg-source -x "$SRC_DSC" "$SRC_DIR"
}

# ---------------------------------------------------------------- builds

build_openssl() {
    local log=$LOG_DIR/openssl.log
    local -a extra=()
    cd "$SRC_DIR"
    # Debian's pic.patch makes the x86 perlasm output use ELF GOT/PLT
    # relocations, which COFF cannot represent (the assembler fails on
    # BFD_RELOC_386_GOTPC). Take it back out; it only matters for ELF shared
    # objects. Should it ever stop reversing cleanly, build without assembly
    # rather than not at all.
    if [[ -f debian/patches/pic.patch ]]; then
        if patch -R -p1 -s --dry-run <debian/patches/pic.patch >/dev/null 2>&1; then
            run_logged "$log" "reverting Debian's pic.patch" patch -R -p1 <debian/patches/pic.patch
        else
            warn "Debian's pic.patch does not revert cleanly; building OpenSSL with no-asm (slower)"
            extra+=(no-asm)
        fi
    fi
    # no-pinshared: by default libcrypto pins the module it is linked into
    # (GetModuleHandleEx with the pin flag) so that its exit handlers can run.
    # The download engine is such a DLL; pinned, it could never be unloaded
    # and its file, and with it the work folder, could not be deleted at exit.
    run_logged "$log" "configuring OpenSSL" \
        perl ./Configure mingw no-shared no-tests no-pinshared "${extra[@]}" \
            --prefix="$PREFIX" --libdir=lib \
            CC="$CC_X" CXX="$CXX_X" AR="$AR_X" RANLIB="$RANLIB_X" RC="$WINDRES_X"
    # These directories are compiled in. The defaults (derived from PREFIX)
    # would turn into drive-relative paths such as \opt\kavetta-deps\... at
    # run time, folders any user can create; point them at an admin-only
    # location instead. Configure itself would prefix a C:/ path with PREFIX,
    # so they are set at make time.
    local -a dirs=(
        OPENSSLDIR=C:/Windows/System32/OpenSSL
        ENGINESDIR=C:/Windows/System32/OpenSSL/engines-3
        MODULESDIR=C:/Windows/System32/OpenSSL/ossl-modules
    )
    # build_libs/install_dev: only the libraries and headers, no apps, docs
    # or man pages.
    run_logged "$log" "building OpenSSL" make -j"$JOBS" "${dirs[@]}" build_libs
    run_logged "$log" "installing OpenSSL" make "${dirs[@]}" install_dev
}

build_curl() {
    local log=$LOG_DIR/curl.log
    # CMake rather than configure: Debian's source tree carries its
    # gnutls/nss renaming patches in lib/Makefile.am, which the CMake build
    # does not read.
    run_logged "$log" "configuring curl" \
        cmake -S "$SRC_DIR" -B "$BUILD_ROOT/curl/build" \
            -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" \
            -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$PREFIX" \
            -DBUILD_SHARED_LIBS=OFF \
            -DBUILD_CURL_EXE=OFF \
            -DBUILD_TESTING=OFF \
            -DENABLE_MANUAL=OFF \
            -DPICKY_COMPILER=OFF \
            -DCURL_USE_OPENSSL=ON \
            -DCURL_USE_SCHANNEL=OFF \
            -DOPENSSL_ROOT_DIR="$PREFIX" \
            -DOPENSSL_USE_STATIC_LIBS=ON \
            -DOPENSSL_INCLUDE_DIR="$PREFIX/include" \
            -DOPENSSL_SSL_LIBRARY="$PREFIX/lib/libssl.a" \
            -DOPENSSL_CRYPTO_LIBRARY="$PREFIX/lib/libcrypto.a" \
            -DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON \
            -DCURL_ZLIB=ON \
            -DZLIB_INCLUDE_DIR="$MINGW_SYSROOT/include" \
            -DZLIB_LIBRARY="$MINGW_SYSROOT/lib/libz.a" \
            -DCURL_DISABLE_LDAP=ON \
            -DCURL_DISABLE_LDAPS=ON \
            -DUSE_WIN32_LDAP=OFF \
            -DCURL_USE_LIBSSH2=OFF \
            -DCURL_USE_LIBSSH=OFF \
            -DCURL_USE_GSSAPI=OFF \
            -DUSE_LIBIDN2=OFF \
            -DUSE_WIN32_IDN=OFF \
            -DCURL_USE_LIBPSL=OFF \
            -DCURL_BROTLI=OFF \
            -DCURL_ZSTD=OFF \
            -DUSE_NGHTTP2=OFF \
            -DUSE_NGTCP2=OFF \
            -DUSE_QUICHE=OFF \
            -DUSE_MSH3=OFF \
            -DENABLE_ARES=OFF \
            -DCURL_CA_BUNDLE=none \
            -DCURL_CA_PATH=none
    # CURLSSLOPT_NATIVE_CA with OpenSSL needs USE_WIN32_CRYPTO, which curl
    # turns on when wincrypt.h works; make sure it did.
    grep -q '^USE_WIN32_CRYPTO:INTERNAL=ON\|^USE_WINCRYPT:INTERNAL=1' "$BUILD_ROOT/curl/build/CMakeCache.txt" ||
        die "curl was configured without Windows crypto support (CURLSSLOPT_NATIVE_CA would not work); see $log"
    run_logged "$log" "building curl" cmake --build "$BUILD_ROOT/curl/build" -j "$JOBS"
    run_logged "$log" "installing curl" cmake --install "$BUILD_ROOT/curl/build"
}

build_jsoncpp() {
    local log=$LOG_DIR/jsoncpp.log
    run_logged "$log" "configuring jsoncpp" \
        cmake -S "$SRC_DIR" -B "$BUILD_ROOT/jsoncpp/build" \
            -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" \
            -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$PREFIX" \
            -DCMAKE_INSTALL_LIBDIR=lib \
            -DBUILD_SHARED_LIBS=OFF \
            -DBUILD_STATIC_LIBS=ON \
            -DBUILD_OBJECT_LIBS=OFF \
            -DJSONCPP_WITH_TESTS=OFF \
            -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
            -DJSONCPP_WITH_EXAMPLE=OFF
    run_logged "$log" "building jsoncpp" cmake --build "$BUILD_ROOT/jsoncpp/build" -j "$JOBS"
    run_logged "$log" "installing jsoncpp" cmake --install "$BUILD_ROOT/jsoncpp/build"
}

build_minizip() {
    local log=$LOG_DIR/minizip.log
    local mz=$SRC_DIR/contrib/minizip obj=$BUILD_ROOT/minizip/obj f
    [[ -f $mz/unzip.c ]] || die "the zlib source package has no contrib/minizip"
    mkdir -p "$obj"
    # Only the library parts; miniunz.c/minizip.c are the sample tools.
    # zlib.h comes from Debian's libz-mingw-w64-dev in the MinGW sysroot,
    # the same zlib the consumer links.
    for f in ioapi unzip zip iowin32 mztools; do
        run_logged "$log" "compiling minizip/$f.c" \
            "$CC_X" -O2 -Wall -I"$mz" -c "$mz/$f.c" -o "$obj/$f.o"
    done
    rm -f "$obj/libminizip.a"
    run_logged "$log" "archiving libminizip.a" "$AR_X" rcs "$obj/libminizip.a" "$obj"/*.o
    install -d "$PREFIX/lib" "$PREFIX/include/minizip"
    install -m 644 "$obj/libminizip.a" "$PREFIX/lib/libminizip.a"
    install -m 644 "$mz"/{ioapi,unzip,zip,iowin32,mztools}.h "$PREFIX/include/minizip/"
}

build_7zip() {
    local log=$LOG_DIR/7zip.log
    local bundle=$SRC_DIR/CPP/7zip/Bundles/Format7zF
    local dll=$bundle/_o/7z.dll
    [[ -f $bundle/makefile.gcc ]] || die "the 7zip source package has no Format7zF/makefile.gcc"
    # Variables as named in CPP/7zip/7zip_gcc.mak. IS_MINGW selects the
    # Windows build (DLL with Archive2.def as export list, -static so that
    # libgcc/libstdc++/winpthread are linked in); MY_MKDIR/RM replace the
    # cmd.exe defaults. The exports are __stdcall functions listed
    # undecorated in Archive2.def; --enable-stdcall-fixup lets ld match them
    # (CreateObject -> _CreateObject@12) without a warning for each one.
    # Debian's source has the RAR code removed, hence
    # DISABLE_RAR. -Werror is dropped: upstream tunes it for its own
    # compilers, not for whatever gcc Debian ships.
    run_logged "$log" "building 7z.dll" \
        make -C "$bundle" -f makefile.gcc -j"$JOBS" \
            IS_MINGW=1 DISABLE_RAR=1 O=_o \
            CC="$CC_X" CXX="$CXX_X" RC="$WINDRES_X" \
            MY_MKDIR="mkdir -p" RM="rm -f" \
            CFLAGS_WARN_WALL="-Wall -Wextra" \
            LDFLAGS_STATIC_3=-Wl,--enable-stdcall-fixup
    [[ -f $dll ]] || die "the 7-Zip build finished without producing $dll"
    check_7z_dll "$dll"
    install -d "$PREFIX/bin"
    "$STRIP_X" --strip-unneeded -o "$PREFIX/bin/7z.dll.tmp" "$dll"
    mv "$PREFIX/bin/7z.dll.tmp" "$PREFIX/bin/7z.dll"
}

# A 32-bit PE DLL that exports CreateObject undecorated and imports nothing
# but Windows' own DLLs.
check_7z_dll() {
    local dll=$1 dump exports imports bad=
    dump=$("$OBJDUMP_X" -p "$dll")
    grep -q 'file format pei-i386' <<<"$dump" ||
        die "7z.dll is not a 32-bit PE file"
    exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
                   t && /^[[:space:]]*\[/ { print $NF; next }
                   t { t = 0 }' <<<"$dump")
    grep -qx 'CreateObject' <<<"$exports" ||
        die "7z.dll does not export an undecorated CreateObject; its exports are: ${exports//$'\n'/ }"
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
    while read -r d; do
        [[ -n $d ]] || continue
        case ${d,,} in
            kernel32.dll|user32.dll|advapi32.dll|oleaut32.dll|ole32.dll|shell32.dll|\
            msvcrt.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shlwapi.dll|ntdll.dll|\
            version.dll|ws2_32.dll|bcrypt.dll|crypt32.dll|psapi.dll|api-ms-win-*.dll) ;;
            *) bad+=" $d" ;;
        esac
    done <<<"$imports"
    [[ -z $bad ]] || die "7z.dll depends on non-system DLLs:$bad"
    note "7z.dll: exports CreateObject; imports ${imports//$'\n'/ }"
}

# ---------------------------------------------------------------- summary

summary() {
    local lib f
    echo
    msg "contents of $PREFIX"
    for lib in "${LIBS[@]}"; do
        printf '    %-8s %s\n' "$lib" "${SRCPKG[$lib]} $(stamp_field "$lib" version)"
    done
    echo "    include/"
    for f in "$PREFIX"/include/*; do
        [[ -e $f ]] && echo "        ${f#"$PREFIX"/}"
    done
    echo "    lib/"
    for f in "$PREFIX"/lib/*.a; do
        [[ -e $f ]] && printf '        %-22s %s\n' "${f#"$PREFIX"/}" "$(du -h "$f" | cut -f1)"
    done
    echo "    bin/"
    [[ -e $PREFIX/bin/7z.dll ]] && printf '        %-22s %s\n' bin/7z.dll "$(du -h "$PREFIX/bin/7z.dll" | cut -f1)"
    echo
    note "link: -DCURL_STATICLIB -I$PREFIX/include -L$PREFIX/lib -static \\"
    note "      -lcurl -lssl -lcrypto -ljsoncpp -lminizip -lz \\"
    note "      -lws2_32 -lcrypt32 -lbcrypt -ladvapi32 -lgdi32 -luser32"
}

# ---------------------------------------------------------------- main

main() {
    local lib start=$SECONDS sources_changed
    local -a stale=()

    [[ $(id -u) -eq 0 ]] || die "run this as root (it manages apt sources and build tools)"
    [[ $PREFIX == /* ]] || die "PREFIX must be an absolute path (got '$PREFIX')"
    mkdir -p "$WORK" "$SRC_CACHE" "$BUILD_ROOT" "$LOG_DIR"

    # One run at a time: they share the work directory.
    exec 9>"$WORK/.lock"
    if ! flock -n 9; then
        msg "another build-deps.sh run is in progress; waiting for it"
        flock 9
    fi

    for lib in "${LIBS[@]}"; do
        stamp_current "$lib" || stale+=("$lib")
    done
    if (( ${#stale[@]} == 0 )); then
        msg "all libraries in $PREFIX are up to date"
        summary
        return 0
    fi
    msg "to build: ${stale[*]}"

    ensure_build_tools
    sources_changed=$(ensure_deb_src)
    if [[ -n $sources_changed ]]; then
        msg "added deb-src entries to the apt sources"
        apt_update
    fi
    write_toolchain_file

    for lib in "${LIBS[@]}"; do
        # Checked again here: rebuilding OpenSSL makes curl stale, and the
        # package lists may have changed after apt-get update.
        if stamp_current "$lib"; then
            note "$lib is up to date ($(stamp_field "$lib" version))"
            continue
        fi
        fetch_source "$lib"
        if stamp_current "$lib" "$SRC_VERSION"; then
            # Newer versions are listed but not downloadable; what we have
            # is built from the newest one that is.
            note "$lib is up to date ($SRC_VERSION)"
            continue
        fi
        local t0=$SECONDS
        : >"$LOG_DIR/$lib.log"
        unpack_source "$lib"
        msg "building $lib from ${SRCPKG[$lib]} $SRC_VERSION (log: $LOG_DIR/$lib.log)"
        rm -f "$(stamp_file "$lib")"
        "build_$lib"
        cd "$WORK"
        write_stamp "$lib" "$SRC_VERSION"
        [[ ${KEEP_BUILD:-0} == 1 ]] || rm -rf "${BUILD_ROOT:?}/$lib"
        note "$lib done in $(( SECONDS - t0 )) s"
    done

    summary
    msg "finished in $(( SECONDS - start )) s"
}

main "$@"
