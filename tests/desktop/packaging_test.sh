#!/usr/bin/env bash
# The installed program and its Debian package, as a user's machine gets them.
# usage: packaging_test.sh <check> <source dir> <build dir> [icons]
set -euo pipefail
check="$1"
source_dir="$2"
build_dir="$3"
icons="${4:-}"
package_dir="$build_dir/package-test"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The installed player runs headless in its own runtime and current directories.
player_env() {
  echo XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
    LUNADIO_MEDIA_SINK=fakesink DBUS_SESSION_BUS_ADDRESS=
}

case "$check" in
  desktop-entry)
    desktop-file-validate "$source_dir/desktop/data/lunadio.desktop"
    grep -qx 'Exec=lunadio %f' "$source_dir/desktop/data/lunadio.desktop" || fail "Exec line"
    ;;
  metainfo)
    appstreamcli validate --no-net "$source_dir/desktop/data/org.lunadio.Lunadio.metainfo.xml"
    ;;
  install)
    prefix="$(mktemp -d)"
    work="$(mktemp -d)"
    runtime="$(mktemp -d)"
    trap 'rm -rf "$prefix" "$work" "$runtime"' EXIT
    cmake --install "$build_dir" --prefix "$prefix" >/dev/null
    for file in bin/lunadio share/applications/lunadio.desktop \
      share/metainfo/org.lunadio.Lunadio.metainfo.xml; do
      [ -e "$prefix/$file" ] || fail "not installed: $file"
    done
    [ -x "$prefix/bin/lunadio" ] || fail "bin/lunadio is not executable"
    if [ -n "$icons" ]; then
      for size in 16 22 24 32 48 64 128 256; do
        [ -e "$prefix/share/icons/hicolor/${size}x${size}/apps/lunadio.png" ] ||
          fail "no ${size}px icon"
      done
      [ -e "$prefix/share/icons/hicolor/scalable/apps/lunadio.svg" ] || fail "no scalable icon"
    fi

    # The first start comes up and stays (ended here) or ends cleanly.
    cd "$work"
    status=0
    # shellcheck disable=SC2046
    env $(player_env) "$prefix/bin/lunadio" >/dev/null 2>&1 &
    first=$!
    sleep 3
    if kill -0 "$first" 2>/dev/null; then
      kill -KILL "$first"
      wait "$first" 2>/dev/null || true
    else
      wait "$first" || status=$?
      [ "$status" -eq 0 ] || fail "the installed player exited with $status"
    fi

    # With the single-instance guard held elsewhere, a start is a second start: exit 0, at once.
    exec 9>"$runtime/lunadio.lock"
    flock -n 9 || fail "cannot take the guard's lock"
    status=0
    start=$(date +%s%N)
    # shellcheck disable=SC2046
    env $(player_env) timeout 10 "$prefix/bin/lunadio" "$work/absent.ogg" >/dev/null 2>&1 9>&- ||
      status=$?
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    exec 9>&-
    [ "$status" -eq 0 ] || fail "a second start exited with $status"
    echo "second start: exit 0 after $elapsed_ms ms"
    ;;
  package-plan)
    # scripts/package.sh builds the player alone in a fresh tree and installs without the "all"
    # dependency: building that one target must make every file the install takes.
    fresh="$(mktemp -d)"
    trap 'rm -rf "$fresh"' EXIT
    cmake -S "$source_dir" -B "$fresh" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
      -DLUNADIO_TESTS=OFF -DLUNADIO_BENCH=OFF >/dev/null
    target="$(sed -n 's/.*--build "$build" -j2 --target \([a-z_ ]*\).*/\1/p' \
      "$source_dir/scripts/package.sh")"
    [ -n "$target" ] || fail "cannot read the target scripts/package.sh builds"
    # A dry run (going on past Qt's generated sources, which a dry run does not make) lists the
    # commands the build would run.
    # shellcheck disable=SC2086
    plan="$(make -n -k -C "$fresh" $target 2>&1 || true)"
    missing=""
    while read -r file; do
      case "$file" in
        "$fresh"/*) ;;
        *) continue ;;  # a file of the source tree
      esac
      # The program is the target itself; every other file is the output of a rule in some
      # target's makefile, and that target must be among those the dry run enters.
      case " $target " in *" $(basename "$file") "*) continue ;; esac
      relative="${file#"$fresh"/}"
      maker="$(grep -lF -- "$relative:" "$fresh"/*/CMakeFiles/*.dir/build.make | head -n 1)"
      [ -n "$maker" ] || { missing="$missing $relative"; continue; }
      grep -qF -- "-f ${maker#"$fresh"/} " <<<"$plan" && continue
      # A target the dry run could not enter (its objects come from libraries whose generated
      # sources a dry run does not make) still counts when the target built depends on it.
      maker_dir="$(dirname "${maker#"$fresh"/}")"
      for t in $target; do
        grep -qE -- "/$t\.dir/all: $maker_dir/all\$" "$fresh/CMakeFiles/Makefile2" && continue 2
      done
      missing="$missing $relative"
    done < <(grep -ho 'file(INSTALL .* FILES "[^"]*"' "$fresh"/cmake_install.cmake \
      "$fresh"/*/cmake_install.cmake | sed 's/.*FILES "\([^"]*\)"$/\1/')
    [ -z "$missing" ] || fail "building '$target' in a fresh tree does not make:$missing"
    ;;
  package-build)
    rm -rf "$package_dir"
    cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$package_dir" >/dev/null
    ls "$package_dir"/lunadio_*.deb >/dev/null
    ;;
  package-contents)
    deb="$(ls "$package_dir"/lunadio_*.deb)"
    contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
    expected=(./usr/bin/lunadio ./usr/share/applications/lunadio.desktop
      ./usr/share/metainfo/org.lunadio.Lunadio.metainfo.xml ./usr/share/doc/lunadio/copyright
      ./usr/lib/lunadio/lunadio-player.so ./usr/lib/lunadio/lunadio-media.so)
    if [ -n "$icons" ]; then
      expected+=(./usr/share/icons/hicolor/48x48/apps/lunadio.png
        ./usr/share/icons/hicolor/scalable/apps/lunadio.svg)
    fi
    for file in "${expected[@]}"; do
      grep -qx -- "$file" <<<"$contents" || fail "the package lacks $file"
    done
    # Nothing of the build leaks in: no libraries (the player's two modules are its own), headers,
    # tests or benchmarks.
    if grep -E '\.(a|h)$|/lib[^/]*\.so$|_tests$|/include/' <<<"$contents"; then
      fail "build files packaged"
    fi
    [ "$(dpkg-deb -f "$deb" Package)" = lunadio ] || fail "package name"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
    ;;
  package-depends)
    deb="$(ls "$package_dir"/lunadio_*.deb)"
    depends="$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')"
    # From the binary (shlibdeps) and what it loads by name at run time (SDL among them).
    for package in libc6 libqt6widgets6 libpulse0 libsdl2-2.0-0 libvorbisfile3 libflac12 libpng16-16 \
      libgstreamer1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
      grep -qx "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
    done
    # The MP3 decoder the media engine asks for must come from a listed package.
    mp3="$(dpkg -S /usr/lib/*/gstreamer-1.0/libgstmpg123.so | cut -d: -f1)"
    grep -qx "$mp3" <<<"$depends" || fail "the MP3 decoder's package $mp3 is not a dependency"
    ;;
  *)
    fail "unknown check $check"
    ;;
esac
echo "ok: $check"
