#!/usr/bin/env bash
# Builds wxWidgets 3.2 for Windows (MSW, x86_64, static, Unicode, base and
# core only) with MinGW-w64 from Debian's own source package, for the Windows
# build of the tool. Run on Debian 12; root is needed only the first time, to
# add a deb-src entry and install what is missing (dpkg-dev, make, the MinGW
# posix compilers; xvfb and xauth for --check).
#
# Usage: scripts/build-wx-msw.sh [--print-prefix] [--fetch] [--check]
#   (no option)     build unless a finished build is there; progress goes to
#                   stderr, the install prefix is the only line on stdout, so
#                   prefix=$(scripts/build-wx-msw.sh) works
#   --print-prefix  print the prefix of the finished build and exit; exit 1
#                   (nothing on stdout) if there is none; never builds
#   --fetch         only what needs apt (packages, the deb-src entry, the
#                   source download), so that the build itself can run
#                   later, in the background, beside other apt users
#   --check         also build a throwaway wx program against the install and
#                   run it under Wine on a virtual X display (xvfb-run)
#
# Environment:
#   KOVA_WX_CACHE  cache root, default /var/cache/kova-upgrade; the source and
#                  the build go to $KOVA_WX_CACHE/wx-msw-build/, the install to
#                  $KOVA_WX_CACHE/wx-msw-<source version>-x86_64-<hash of the
#                  configuration>/, so a new version or configuration gets a
#                  directory of its own
#   KOVA_WX_JOBS   parallel make jobs, default 2
#
# Use the result with
#   "$prefix/bin/wx-config" --static --cxxflags
#   "$prefix/bin/wx-config" --static --libs core,base
# and link with -static.
#
# Debian's source has the bundled libpng, libjpeg, libtiff, expat and zlib
# taken out and Debian has no MinGW builds of the first four, so all are off,
# and with them wxSVGFileDC (--disable-svg) and zip streams; bitmaps from SVG data (wxBitmapBundle::FromSVG,
# the bundled nanosvg) stay on and are checked for.
set -euo pipefail

print_prefix=0
fetch=0
check=0
for arg in "$@"; do
  case $arg in
    --print-prefix) print_prefix=1 ;;
    --fetch) fetch=1 ;;
    --check) check=1 ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "build-wx-msw.sh: unknown option: $arg" >&2; exit 2 ;;
  esac
done

log() { echo "build-wx-msw: $*" >&2; }
die() { log "$*"; exit 1; }

cache=${KOVA_WX_CACHE:-/var/cache/kova-upgrade}
jobs=${KOVA_WX_JOBS:-2}
source_package=wxwidgets3.2
host=x86_64-w64-mingw32
cc=$host-gcc-posix
cxx=$host-g++-posix
# Bumped when the way the build is made changes in a way the options below do
# not show.
recipe=1
configure_options=(
  --host="$host" --with-msw --disable-shared --enable-unicode
  --without-libpng --without-libjpeg --without-libtiff --without-expat
  --without-zlib --without-liblzma --without-opengl --with-nanosvg
  --disable-svg --disable-zipstream
  # base and core only: no xml, qa, html, aui... libraries (net is still
  # built, next to empty, and adv, empty in 3.2)
  --disable-sockets --disable-ipc --disable-protocols --disable-url
  --disable-fs_inet --disable-webrequest --disable-debugreport
  --disable-html --disable-htmlhelp --disable-aui --disable-stc
  --disable-richtext --disable-propgrid --disable-ribbon --disable-xrc
  --disable-webview --disable-mediactrl --disable-sound --disable-joystick
  --disable-printarch --disable-postscript --disable-mdi --disable-docview
  --disable-help --disable-tests
)

# --- the deb-src entry ------------------------------------------------------

# Prints the fields of the deb822 stanzas of the files given, one stanza a
# line: Types, URIs, Suites, Components, Signed-By, Enabled, separated by
# the unit separator (a tab would let read merge empty fields).
deb822_stanzas() {
  awk '
    function flush() {
      if (n) printf "%s\037%s\037%s\037%s\037%s\037%s\n", f["types"], f["uris"], f["suites"], f["components"], f["signed-by"], f["enabled"]
      n = 0; delete f; key = ""
    }
    FNR == 1 { flush() }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (key != "") { v = $0; gsub(/^[ \t]+|[ \t]+$/, "", v); f[key] = f[key] " " v }; next }
    {
      i = index($0, ":"); if (!i) next
      key = tolower(substr($0, 1, i - 1)); v = substr($0, i + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", v); f[key] = v; n++
    }
    END { flush() }
  ' "$@"
}

# Files apt reads its sources from, by format.
one_line_files() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && echo "$f"; done
  return 0
}
deb822_files() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && echo "$f"; done
  return 0
}

has_word() { [[ " $1 " == *" $2 "* ]]; }

# True if apt has a deb-src entry for bookworm main.
have_bookworm_source() {
  local files types uris suites components signed enabled
  mapfile -t files < <(one_line_files)
  if [ ${#files[@]} -gt 0 ] &&
     grep -qE '^[[:space:]]*deb-src[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+bookworm[[:space:]]+(.*[[:space:]])?main([[:space:]]|$)' "${files[@]}"; then
    return 0
  fi
  mapfile -t files < <(deb822_files)
  [ ${#files[@]} -gt 0 ] || return 1
  while IFS=$'\037' read -r types uris suites components signed enabled; do
    if has_word "$types" deb-src && has_word "$suites" bookworm && has_word "$components" main &&
       [ "${enabled,,}" != no ]; then
      return 0
    fi
  done < <(deb822_stanzas "${files[@]}")
  return 1
}

add_bookworm_source() {
  local files types uris suites components signed enabled line
  local src_file=/etc/apt/sources.list.d/kova-wx-src.sources
  [ "$(id -u)" = 0 ] || die "apt has no deb-src entry for bookworm main; run once as root to add one"
  mapfile -t files < <(deb822_files)
  if [ ${#files[@]} -gt 0 ]; then
    while IFS=$'\037' read -r types uris suites components signed enabled; do
      if has_word "$types" deb && has_word "$suites" bookworm && has_word "$components" main &&
         [ "${enabled,,}" != no ]; then
        [[ $signed != *' '* ]] || die "the bookworm main entry has an inline Signed-By key; add a deb-src entry by hand"
        {
          echo "# Source packages, for scripts/build-wx-msw.sh (wxWidgets for Windows)."
          echo "Types: deb-src"
          echo "URIs: $uris"
          echo "Suites: $suites"
          echo "Components: main"
          [ -z "$signed" ] || echo "Signed-By: $signed"
        } >"$src_file"
        log "added $src_file (URIs: $uris; Suites: $suites)"
        return 0
      fi
    done < <(deb822_stanzas "${files[@]}")
  fi
  # A one-line entry: deb [options] URI bookworm components...
  mapfile -t files < <(one_line_files)
  if [ ${#files[@]} -gt 0 ]; then
    line=$(grep -hE '^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+bookworm[[:space:]]+(.*[[:space:]])?main([[:space:]]|$)' "${files[@]}" | head -n 1 || true)
    if [ -n "$line" ]; then
      local options="" uri
      if [[ $line =~ \[([^]]*)\] ]]; then options=${BASH_REMATCH[1]}; fi
      uri=$(sed -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/' <<<"$line")
      signed=$(grep -oE 'signed-by=[^[:space:]]+' <<<"$options" | cut -d= -f2- || true)
      {
        echo "# Source packages, for scripts/build-wx-msw.sh (wxWidgets for Windows)."
        echo "Types: deb-src"
        echo "URIs: $uri"
        echo "Suites: bookworm"
        echo "Components: main"
        [ -z "$signed" ] || echo "Signed-By: $signed"
      } >"$src_file"
      log "added $src_file (URIs: $uri)"
      return 0
    fi
  fi
  die "found no bookworm main entry in /etc/apt/sources.list or /etc/apt/sources.list.d/ to take a deb-src entry from"
}

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" = 0 ] || die "missing packages: ${missing[*]}; run once as root"
  log "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# --- where the build goes ---------------------------------------------------

# The newest version of the source package apt knows, e.g. 3.2.2+dfsg-2
# (empty if none).
source_version() {
  apt-cache showsrc --only-source "$source_package" 2>/dev/null |
    sed -n 's/^Version: //p' | sort -V | tail -n 1
}

# What the build is made of; an install whose stamp says anything else is not
# taken.
describe_build() {
  echo "source: $source_package $version"
  echo "recipe: $recipe"
  echo "compilers: $("$cc" -dumpfullversion) $("$cxx" -dumpfullversion) ($cc, $cxx)"
  echo "configure: ${configure_options[*]}"
}

# Sets version, prefix, stamp, description. Returns 1 when apt knows no
# source version (yet).
locate() {
  full_version=$(source_version)
  [ -n "$full_version" ] || return 1
  version=${full_version#*:}
  command -v "$cc" >/dev/null && command -v "$cxx" >/dev/null || return 1
  description=$(describe_build)
  local hash
  hash=$(sha256sum <<<"$description" | cut -c1-8)
  prefix=$cache/wx-msw-$version-x86_64-$hash
  stamp=$prefix/.kova-build-complete
  return 0
}

finished() {
  [ -f "$stamp" ] && [ -x "$prefix/bin/wx-config" ] && [ "$(cat "$stamp")" = "$description" ]
}

# --- the check under Wine ---------------------------------------------------

check_under_wine() {
  install_missing xvfb xauth
  command -v wine >/dev/null || die "wine is not installed"
  local dir rc=0
  dir=$(mktemp -d /tmp/wxcheck.XXXXXX)
  write_check_program "$dir/check.cpp"
  compile_check_program "$dir/check.cpp" "$dir/check.exe"
  log "running the check program under Wine (prefix $dir/wineprefix)"
  cat >"$dir/run.sh" <<'EOF'
set -u
export WINEPREFIX=$1 WINEDEBUG=-all
# wineboot starts wine's service processes, which inherit its standard
# streams: keep them off any pipe.
wine wineboot -i >/dev/null 2>&1 </dev/null
timeout 60 wine "$2" </dev/null
rc=$?
wineserver -k >/dev/null 2>&1
exit $rc
EOF
  xvfb-run -a bash "$dir/run.sh" "$dir/wineprefix" "$dir/check.exe" >&2 || rc=$?
  if [ $rc = 0 ]; then
    log "the check program ran under Wine and exited with 0"
    rm -rf "$dir"
  else
    die "the check program failed under Wine (exit status $rc); left in $dir"
  fi
}

# A frame that closes itself after a second; exit status 0 only if a bitmap
# came out of SVG data too.
write_check_program() {
  cat >"$1" <<'EOF'
#include <wx/wx.h>
#include <wx/bmpbndl.h>
#ifndef wxHAS_SVG
#error "this wxWidgets cannot make bitmaps from SVG data"
#endif

static const char svg[] =
    "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
    "<rect x='2' y='2' width='12' height='12' fill='#2a6'/></svg>";

class CheckApp : public wxApp {
public:
  bool OnInit() override {
    wxBitmapBundle bundle = wxBitmapBundle::FromSVG(svg, wxSize(16, 16));
    const wxBitmap bitmap = bundle.GetBitmap(wxSize(32, 32));
    svgOk = bundle.IsOk() && bitmap.IsOk() && bitmap.GetWidth() == 32;
    auto *frame = new wxFrame(nullptr, wxID_ANY, "wx check");
    frame->SetIcons(wxIconBundle(bundle.GetIcon(wxSize(32, 32))));
    frame->Show();
    timer.Bind(wxEVT_TIMER, [frame](wxTimerEvent &) { frame->Close(true); });
    timer.StartOnce(1000);
    return true;
  }
  int OnRun() override {
    const int rc = wxApp::OnRun();
    return rc != 0 ? rc : (svgOk ? 0 : 3);
  }

private:
  wxTimer timer;
  bool svgOk = false;
};

wxIMPLEMENT_APP(CheckApp);
EOF
}

compile_check_program() {
  local cxxflags libs
  cxxflags=$("$prefix/bin/wx-config" --static --cxxflags)
  libs=$("$prefix/bin/wx-config" --static --libs core,base)
  # shellcheck disable=SC2086 # wx-config prints words to split
  "$cxx" -std=c++17 -O1 $cxxflags "$1" -o "$2" -static $libs
}

# --- main -------------------------------------------------------------------

if [ $print_prefix = 1 ]; then
  locate && finished || exit 1
  echo "$prefix"
  exit 0
fi

if locate && finished; then
  [ $check = 0 ] || check_under_wine
  echo "$prefix"
  exit 0
fi

install_missing dpkg-dev make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
updated=0
if ! have_bookworm_source; then
  add_bookworm_source
  log "apt-get update"
  apt-get update -qq >&2
  updated=1
fi
if ! locate && [ $updated = 0 ] && [ "$(id -u)" = 0 ]; then
  log "apt knows no source package $source_package yet: apt-get update"
  apt-get update -qq >&2
fi
locate || die "apt knows no source package $source_package (run apt-get update as root)"

mkdir -p "$cache/wx-msw-build"
exec 9>"$cache/wx-msw-build/.lock"
flock 9
# Another run may have finished it while this one waited.
if finished; then
  [ $check = 0 ] || check_under_wine
  echo "$prefix"
  exit 0
fi
log "building wxWidgets $version for MSW into $prefix"

# Fetch (apt skips files already there and checked), unpack afresh.
downloads=$cache/wx-msw-build/downloads
mkdir -p "$downloads"
# apt downloads as _apt when it can write there (no warning, no root fetch).
if [ "$(id -u)" = 0 ] && id _apt >/dev/null 2>&1; then chown _apt "$downloads"; fi
(cd "$downloads" && apt-get source --download-only -qq "$source_package=$full_version" >&2)
dsc=$downloads/${source_package}_$version.dsc
[ -f "$dsc" ] || die "apt-get source left no $dsc"
if [ $fetch = 1 ]; then
  log "fetched $source_package $version"
  exit 0
fi
build=$cache/wx-msw-build/$(basename "$prefix")
# Build trees left by failed runs, of this configuration or others, and a
# half-made install of this one.
rm -rf "$cache"/wx-msw-build/wx-msw-* "$prefix"
mkdir -p "$build"
dpkg-source -x "$dsc" "$build/src" >"$build/unpack.log" 2>&1 || { cat "$build/unpack.log" >&2; die "unpacking failed"; }
[ -f "$build/src/3rdparty/nanosvg/src/nanosvg.h" ] || die "the source has no bundled nanosvg: no bitmaps from SVG data"

# Keep the build machine's own .pc files out of a cross build.
mkdir -p "$build/no-pkgconfig" "$build/obj"
cd "$build/obj"
start=$(date +%s)
log "configure (log: $build/configure.log)"
if ! PKG_CONFIG_LIBDIR=$build/no-pkgconfig PKG_CONFIG_PATH='' CC=$cc CXX=$cxx \
     nice ../src/configure --prefix="$prefix" "${configure_options[@]}" >"$build/configure.log" 2>&1; then
  tail -n 30 "$build/configure.log" >&2
  die "configure failed"
fi
if grep -q 'unrecognized options' "$build/configure.log"; then
  grep 'unrecognized options' "$build/configure.log" >&2
  die "configure does not know some options"
fi
t_configure=$(($(date +%s) - start))
log "configure took ${t_configure}s"
grep -q '^#define wxUSE_NANOSVG 1' lib/wx/include/*/wx/setup.h || die "configure turned nanosvg off"

start=$(date +%s)
log "make -j$jobs (log: $build/make.log)"
if ! nice make -j"$jobs" >"$build/make.log" 2>&1; then
  tail -n 30 "$build/make.log" >&2
  die "make failed"
fi
t_make=$(($(date +%s) - start))
log "make took $((t_make / 60))min $((t_make % 60))s"

start=$(date +%s)
if ! make install >"$build/install.log" 2>&1; then
  tail -n 30 "$build/install.log" >&2
  die "make install failed"
fi
t_install=$(($(date +%s) - start))
log "make install took ${t_install}s"

# The install must build a program that makes bitmaps from SVG data.
check_dir=$(mktemp -d /tmp/wxcheck.XXXXXX)
write_check_program "$check_dir/check.cpp"
compile_check_program "$check_dir/check.cpp" "$check_dir/check.exe" || die "a program does not build against $prefix"
rm -rf "$check_dir"

printf '%s\n' "$description" >"$stamp.tmp"
mv "$stamp.tmp" "$stamp"
rm -rf "$build"
log "done: $(du -sh "$prefix" | cut -f1) in $prefix"
[ $check = 0 ] || check_under_wine
echo "$prefix"
