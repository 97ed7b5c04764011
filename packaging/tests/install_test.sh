#!/bin/sh
# Installs the build into a scratch prefix, as a distribution package would, and checks
# the installed tree: the program folder, the launchers on the PATH, the desktop entry, the
# MIME package and the icons; then runs cvktool from the installed tree, away from the
# build, to show that it finds its libraries in its own folder.
#
# Run by CTest with CMAKE_COMMAND, CVK_BUILD_DIR, CVK_PROGRAM_DIR, CVK_BINDIR, CVK_DATADIR
# and CVK_MIMETYPE in the environment. Exit 77 means skipped.

# A failed check is reported and counted, and the others still run: `[ ... ] || fail`.
# shellcheck disable=SC2015
set -eu

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
note() {
    echo "note: $*"
}

case "$CVK_PROGRAM_DIR$CVK_BINDIR$CVK_DATADIR" in
/*)
    echo "skipped: an absolute installation folder is outside any scratch prefix"
    exit 77
    ;;
esac

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
program="$prefix/$CVK_PROGRAM_DIR"
bindir="$prefix/$CVK_BINDIR"
data="$prefix/$CVK_DATADIR"

unset DESTDIR
if ! "$CMAKE_COMMAND" --install "$CVK_BUILD_DIR" --prefix "$prefix" \
    >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi

# ---- the program folder
programs="cvktool"
if [ -e "$CVK_BUILD_DIR/bin/cvk" ]; then
    programs="cvk cvktool"
else
    note "cvk is not built; its checks are left out"
fi
for name in $programs; do
    [ -f "$program/$name" ] && [ -x "$program/$name" ] ||
        fail "$program/$name is not an installed program"
done
for file in libpulsant.so libpulsbrdg.so libpuls16.so libcvkplatform.so libfaderlib.so KAR/twinkle.kar; do
    [ -f "$program/$file" ] || fail "$program/$file is missing"
done
cmp -s "$program/KAR/twinkle.kar" "$CVK_BUILD_DIR/bin/KAR/twinkle.kar" ||
    fail "the installed twinkle.kar differs from the build's"

# Everything lands in the program folder, the launchers or the desktop's own folders;
# developer tools and the tests stay out.
find "$prefix" ! -type d | while read -r path; do
    case "$path" in
    "$program"/* | "$bindir"/* | "$data"/applications/* | "$data"/mime/packages/* | \
        "$data"/icons/hicolor/*/apps/*) ;;
    *) echo "$path" ;;
    esac
done >"$scratch/stray"
[ ! -s "$scratch/stray" ] || fail "installed outside the expected folders: $(cat "$scratch/stray")"
for name in cvkgallery mkpictures mksong cvk_mimetype; do
    [ ! -e "$program/$name" ] || fail "$name is a developer's tool and must not be installed"
done

# ---- launchers: relative links that resolve into the program folder
check_launcher() { # BINDIR PROGRAM_FOLDER NAME
    link="$1/$3"
    if [ ! -L "$link" ]; then
        fail "$link is not a symbolic link"
        return
    fi
    case "$(readlink "$link")" in
    /*) fail "$link points to an absolute path: $(readlink "$link")" ;;
    esac
    [ "$(readlink -f "$link")" = "$(readlink -f "$2/$3")" ] ||
        fail "$link resolves to $(readlink -f "$link"), not into $2"
}
for name in $programs; do
    check_launcher "$bindir" "$program" "$name"
done

# ---- desktop entry
desktop="$data/applications/cantivo.desktop"
if [ -f "$desktop" ]; then
    grep -qx 'Name=Cantivo Karaoke' "$desktop" || fail "the desktop entry's name"
    for type in audio/midi application/x-cantivo-performance; do
        grep -q "^MimeType=.*$type;" "$desktop" || fail "the desktop entry does not open $type"
    done
    # What the entry runs and shows must be what was installed.
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ "$exec_name" = cvk ] || fail "the desktop entry runs '$exec_name', not cvk"
    if [ -e "$CVK_BUILD_DIR/bin/cvk" ]; then
        [ -x "$bindir/$exec_name" ] ||
            fail "the desktop entry's program $exec_name is not in $bindir"
    fi
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -f "$data/icons/hicolor/64x64/apps/$icon.png" ] || fail "no icon named '$icon' installed"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate"
    else
        note "desktop-file-validate not found; the desktop entry is not validated"
    fi
else
    fail "$desktop is missing"
fi

# ---- icons: PNG files of the size their folder names
check_icon() { # SIZE
    file="$data/icons/hicolor/${1}x${1}/apps/cantivo.png"
    if [ ! -f "$file" ]; then
        fail "$file is missing"
        return
    fi
    # The IHDR chunk holds the width and the height as 32-bit big-endian numbers, one
    # byte a word.
    # shellcheck disable=SC2046
    set -- "$1" $(od -An -tu1 -j16 -N8 "$file")
    width=$(($2 * 16777216 + $3 * 65536 + $4 * 256 + $5))
    height=$(($6 * 16777216 + $7 * 65536 + $8 * 256 + $9))
    [ "$width" -eq "$1" ] && [ "$height" -eq "$1" ] ||
        fail "$file is $width x $height, not $1 x $1"
}
check_icon 64
check_icon 128

# ---- MIME package
mime="$data/mime/packages/cantivo-mime.xml"
if [ -f "$mime" ]; then
    if command -v xmllint >/dev/null 2>&1; then
        xmllint --noout "$mime" || fail "xmllint $mime"
    else
        note "xmllint not found; the MIME package is not checked as XML"
    fi
    # The desktop's view of the installed tree: its data folder first, then the system's.
    mkdir "$scratch/home"
    export XDG_DATA_HOME="$scratch/home"
    export XDG_DATA_DIRS="$data:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
    if command -v update-mime-database >/dev/null 2>&1; then
        update-mime-database "$data/mime" 2>"$scratch/mime.log" || fail "update-mime-database"
        [ ! -s "$scratch/mime.log" ] || fail "update-mime-database: $(cat "$scratch/mime.log")"
    fi
    # How the desktop sees the files: a performance by its name, although it starts like
    # any MIDI song, and a MIDI song still a MIDI song whatever its name.
    samples="$scratch/samples"
    mkdir "$samples"
    for name in song.pfc song.kar song.mid song; do
        printf 'MThd\000\000\000\006\000\001\000\001\000\140' >"$samples/$name"
    done
    "$CVK_MIMETYPE" "$samples/song.pfc" "$samples/song.kar" "$samples/song.mid" "$samples/song" \
        >"$scratch/types" || fail "cvk_mimetype"
    expect_type() { # LINE NAME COMMENT
        line=$(sed -n "${1}p" "$scratch/types")
        [ "$(echo "$line" | cut -f1)" = "$2" ] || fail "sample $1 is '$line', expected $2"
        [ -z "${3:-}" ] || [ "$(echo "$line" | cut -f2)" = "$3" ] ||
            fail "sample $1 is described as '$(echo "$line" | cut -f2)'"
    }
    expect_type 1 application/x-cantivo-performance "Cantivo Karaoke performance"
    expect_type 2 audio/midi
    expect_type 3 audio/midi
    expect_type 4 audio/midi
    case "$(sed -n 1p "$scratch/types" | cut -f3)" in
    *audio/midi*) fail "a performance must not pass for a MIDI song" ;;
    esac
else
    fail "$mime is missing"
fi

# ---- the installed programs run from the installed tree alone
if [ -x "$bindir/cvktool" ]; then
    cd "$scratch"
    if env -u LD_LIBRARY_PATH "$bindir/cvktool" --help >"$scratch/usage" 2>&1; then
        grep -q '^usage: cvktool' "$scratch/usage" ||
            fail "cvktool --help printed: $(cat "$scratch/usage")"
    else
        fail "installed cvktool --help failed: $(cat "$scratch/usage")"
    fi
    env -u LD_LIBRARY_PATH "$bindir/cvktool" tracks "$program/KAR/twinkle.kar" >/dev/null 2>&1 ||
        fail "installed cvktool cannot read the installed song"
    if command -v ldd >/dev/null 2>&1; then
        resolved=$(env -u LD_LIBRARY_PATH ldd "$program/cvktool" |
            sed -n 's/^[[:space:]]*libcvkplatform\.so => \([^ ]*\).*/\1/p')
        [ "$(readlink -f "$resolved")" = "$(readlink -f "$program/libcvkplatform.so")" ] ||
            fail "installed cvktool loads libcvkplatform.so from '$resolved', not its own folder"
    fi
fi

# ---- a staged install (DESTDIR) writes only under the stage and links within it
stage="$scratch/stage"
final="$scratch/final"
if DESTDIR="$stage" "$CMAKE_COMMAND" --install "$CVK_BUILD_DIR" --prefix "$final" \
    >"$scratch/stage.log" 2>&1; then
    [ ! -e "$final" ] || fail "a staged install wrote outside DESTDIR: $(find "$final" | head -5)"
    for name in $programs; do
        check_launcher "$stage$final/$CVK_BINDIR" "$stage$final/$CVK_PROGRAM_DIR" "$name"
    done
else
    cat "$scratch/stage.log" >&2
    fail "DESTDIR=... cmake --install"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; installed tree:" >&2
    (cd "$prefix" && find . | sort) >&2
    exit 1
fi
echo "installed tree:"
(cd "$prefix" && find . | sort)
