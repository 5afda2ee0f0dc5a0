#!/usr/bin/env bash
# Renders the pictures of two builds with the screenshot tools, at 1x and 2x, and compares them
# pixel by pixel: one line per picture (same / differs: N pixels, max delta), a diff picture for
# each that differs (before | after | changed pixels in red), exit status 1 when any differs.
#
#   scripts/compare-frames.sh [options] BEFORE_BUILD AFTER_BUILD [OUT]     (default OUT: frames)
#     -g LIST     picture groups, space separated (default "notch card screen frames settings"):
#                   notch     velline-notchshot: the compact views in each state, mid-flash and
#                             mid-pulse on virtual time
#                   card      velline-cardshot: the expanded card in its typical states
#                   screen    velline-screenshots: the real notch window, compact and expanded
#                   frames    velline-screenshots --frames: the card opening and closing, a flash
#                             with the digit roll, a pulse on a slide, as the X server shows them,
#                             without and with a compositor (xcompmgr)
#                   settings  velline-settingsshot: every pane, light and dark
#                   quickadd  scripts/quickadd-screenshots.sh (1x only): the quick-add panel and
#                             the status menu from a live `velline --demo`, whose prices move, so
#                             the notch in these pictures may differ between any two runs
#     -x LIST     scales (default "1 2")
#     -f PERCENT  colour distance a pixel may move before it counts as changed (default 8)
#     -n PIXELS   changed pixels a picture may have and still count as the same (default 0)
#     -r          reuse pictures already rendered in OUT (compare only)
#     -F          frames that differ count as a difference too (exit status 1)
#
# The builds are only run, never built: build the tool targets first.
# Frames are taken in real time, so two runs never land on the same instants (and on a busy
# machine not even on the same number of frames): each frame of the after build is compared with
# the before frame nearest in time and that frame's neighbours, and counts as the same when one of
# them matches. A frame caught mid-motion can differ between two runs of one build, so frames
# are reported apart and decide the exit status only with -F; look at their diff pictures.
set -euo pipefail
cd "$(dirname "$0")/.."

groups="notch card screen frames settings"
scales="1 2"
fuzz=8
allowed=0
reuse=0
strict_frames=0
while getopts "g:x:f:n:rFh" opt; do
    case $opt in
    g) groups=$OPTARG ;;
    x) scales=$OPTARG ;;
    f) fuzz=$OPTARG ;;
    n) allowed=$OPTARG ;;
    r) reuse=1 ;;
    F) strict_frames=1 ;;
    *) sed -n '2,32p' "$0"; exit 64 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || { sed -n '2,32p' "$0"; exit 64; }
before=$(realpath "$1")
after=$(realpath "$2")
out=${3:-frames}
mkdir -p "$out"
out=$(realpath "$out")
command -v compare >/dev/null || { echo "ImageMagick's compare is missing" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing" >&2; exit 1; }

has() { case " $groups " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }

# Runs a command on a private X server of the given size, with xcompmgr when COMPOSITED=1.
on_x() {
    local size=$1
    shift
    xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
        if [ "${COMPOSITED:-0}" = 1 ]; then xcompmgr >/dev/null 2>&1 & comp=$!; sleep 0.5; fi
        "$@"; rc=$?
        [ -n "${comp:-}" ] && kill "$comp" 2>/dev/null
        exit $rc' on_x "$@"
}

tool() { # BUILD RELATIVE_PATH
    local bin=$1/$2
    [ -x "$bin" ] || { echo "no $bin: build it first" >&2; return 1; }
    echo "$bin"
}

# Renders every group of one build at one scale into DIR.
render() { # BUILD SCALE DIR
    local build=$1 scale=$2 dir=$3 size log
    size=$([ "$scale" = 1 ] && echo 1920x1080 || echo 3840x2160)
    rm -rf "$dir"
    mkdir -p "$dir"
    log=$dir/render.log
    export QT_SCALE_FACTOR=$scale QT_QUICK_BACKEND=software TZ=America/New_York
    if has notch; then
        on_x "$size" "$(tool "$build" tools/notchshot/velline-notchshot)" "$dir/notch" >>"$log" 2>&1 ||
            echo "  $build: velline-notchshot failed (see $log)" >&2
    fi
    if has card; then
        on_x "$size" "$(tool "$build" tools/notchshot/velline-cardshot)" "$dir/card" >>"$log" 2>&1 ||
            echo "  $build: velline-cardshot failed (see $log)" >&2
    fi
    if has screen; then
        on_x "$size" "$(tool "$build" tools/notchshot/velline-screenshots)" "$dir/screen" \
            >>"$log" 2>&1 || echo "  $build: velline-screenshots failed (see $log)" >&2
    fi
    if has frames; then
        local composited
        for composited in 0 1; do
            local sub=$dir/frames-$([ $composited = 1 ] && echo composited || echo plain)
            COMPOSITED=$composited on_x "$size" \
                "$(tool "$build" tools/notchshot/velline-screenshots)" --frames "$sub" \
                >>"$log" 2>&1 || echo "  $build: velline-screenshots --frames failed (see $log)" >&2
        done
    fi
    if has settings; then
        local palette
        for palette in "" --dark; do
            on_x "$size" "$(tool "$build" tools/settingsshot/velline-settingsshot)" $palette \
                "$dir/settings" >>"$log" 2>&1 ||
                echo "  $build: velline-settingsshot $palette failed (see $log)" >&2
        done
    fi
    if has quickadd && [ "$scale" = 1 ]; then
        unset QT_SCALE_FACTOR
        scripts/quickadd-screenshots.sh "$dir/quickadd" "$build" >>"$log" 2>&1 ||
            echo "  $build: quickadd-screenshots.sh failed (see $log)" >&2
    fi
    unset QT_SCALE_FACTOR
}

if [ "$reuse" = 0 ]; then
    for scale in $scales; do
        echo "rendering ${scale}x: before ($before)" >&2
        render "$before" "$scale" "$out/before/${scale}x"
        echo "rendering ${scale}x: after ($after)" >&2
        render "$after" "$scale" "$out/after/${scale}x"
    done
fi

# Changed pixels and the largest channel difference (0-255) of two pictures of the same size;
# "size WxH vs WxH" when their sizes differ.
measure() { # A B [DIFF]
    local a=$1 b=$2 diff=${3:-null:} sa sb n peak
    sa=$(identify -format '%wx%h' "$a")
    sb=$(identify -format '%wx%h' "$b")
    if [ "$sa" != "$sb" ]; then
        echo "size $sa vs $sb"
        return
    fi
    n=$(compare -metric AE -fuzz "$fuzz%" "$a" "$b" "$diff" 2>&1 >/dev/null || true)
    peak=$(compare -metric PAE "$a" "$b" null: 2>&1 >/dev/null || true)
    # PAE prints "65535 (1)": the second figure is the fraction of the full range.
    peak=$(awk '{ gsub(/[()]/, "", $2); printf "%d", $2 * 255 + 0.5 }' <<<"$peak")
    echo "${n%%.*} $peak"
}

# Writes before | after | changed pixels (red) side by side.
diff_picture() { # A B DEST
    local a=$1 b=$2 dest=$3 sa sb
    mkdir -p "$(dirname "$dest")"
    sa=$(identify -format '%wx%h' "$a")
    sb=$(identify -format '%wx%h' "$b")
    if [ "$sa" = "$sb" ]; then
        compare -fuzz "$fuzz%" -highlight-color red -lowlight-color '#00000000' "$a" "$b" \
            "$dest.mask.png" 2>/dev/null || true
        convert "$a" "$b" \( "$b" -modulate 100,0 -fill white -colorize 60% "$dest.mask.png" \
            -composite \) -background '#ff00ff' -splice 4x0 +append "$dest" 2>/dev/null
        rm -f "$dest.mask.png"
    else
        convert "$a" "$b" -background '#ff00ff' -splice 4x0 +append "$dest"
    fi
}

same=0
differs=0
missing=0
frames_same=0
frames_differ=0
report() { # NAME RESULT A B
    local name=$1 result=$2
    if [ -z "$result" ]; then
        printf '%-58s missing in after\n' "$name"
        missing=$((missing + 1))
        return
    fi
    if [[ $result == size* ]]; then
        printf '%-58s differs: %s\n' "$name" "$result"
        differs=$((differs + 1))
        diff_picture "$3" "$4" "$out/diff/$name"
        return
    fi
    local n=${result% *} peak=${result#* }
    if [ "$n" -le "$allowed" ]; then
        printf '%-58s same (%d pixels, max delta %d)\n' "$name" "$n" "$peak"
        same=$((same + 1))
    else
        printf '%-58s differs: %d pixels, max delta %d\n' "$name" "$n" "$peak"
        differs=$((differs + 1))
        diff_picture "$3" "$4" "$out/diff/$name"
    fi
}

rm -rf "$out/diff"
# Still pictures: the same file name in both builds.
while IFS= read -r rel; do
    a=$out/before/$rel
    b=$out/after/$rel
    if [ -f "$b" ]; then report "$rel" "$(measure "$a" "$b")" "$a" "$b"; else report "$rel" ""; fi
done < <(cd "$out/before" && find . -name '*.png' ! -path '*/frames-*' | sed 's|^\./||' | sort)
while IFS= read -r rel; do
    [ -f "$out/before/$rel" ] || { printf '%-58s only in after\n' "$rel"; missing=$((missing + 1)); }
done < <(cd "$out/after" && find . -name '*.png' ! -path '*/frames-*' | sed 's|^\./||' | sort)

stills_same=$same
stills_differ=$differs

# Frames: NAME-NNN-MSms.png; each after frame against the before frames nearest in time.
for seqdir in "$out"/after/*/frames-*; do
    [ -d "$seqdir" ] || continue
    rel=${seqdir#"$out/after/"}
    for name in $(ls "$seqdir" | sed -n 's/-[0-9]\{3\}-[0-9]*ms\.png$//p' | sort -u); do
        mapfile -t bframes < <(ls "$out/before/$rel" 2>/dev/null | grep "^$name-[0-9]\{3\}-" | sort)
        mapfile -t btimes < <(printf '%s\n' "${bframes[@]}" | sed 's/.*-\([0-9]*\)ms\.png/\1/')
        if [ ${#bframes[@]} -eq 0 ]; then
            printf '%-58s no frames in before\n' "$rel/$name"
            missing=$((missing + 1))
            continue
        fi
        for f in $(ls "$seqdir" | grep "^$name-[0-9]\{3\}-" | sort); do
            t=$(sed 's/.*-\([0-9]*\)ms\.png/\1/' <<<"$f")
            nearest=0
            for i in "${!btimes[@]}"; do
                d=$((btimes[i] - t)); d=${d#-}
                e=$((btimes[nearest] - t)); e=${e#-}
                [ "$d" -lt "$e" ] && nearest=$i
            done
            best=""
            bestfile=""
            for i in $nearest $((nearest - 1)) $((nearest + 1)); do
                [ "$i" -ge 0 ] && [ "$i" -lt ${#bframes[@]} ] || continue
                r=$(measure "$out/before/$rel/${bframes[i]}" "$seqdir/$f")
                [[ $r == size* ]] && { [ -z "$best" ] && best=$r bestfile=${bframes[i]}; continue; }
                if [ -z "$best" ] || [[ $best == size* ]] || [ "${r% *}" -lt "${best% *}" ]; then
                    best=$r
                    bestfile=${bframes[i]}
                fi
                [ "${r% *}" -le "$allowed" ] && break
            done
            report "$rel/$f" "$best" "$out/before/$rel/$bestfile" "$seqdir/$f"
        done
    done
done
frames_same=$((same - stills_same))
frames_differ=$((differs - stills_differ))

echo "pictures: same $stills_same, differ $stills_differ, missing $missing;" \
    "frames: same $frames_same, differ $frames_differ (fuzz $fuzz %, $allowed pixels allowed)"
[ "$differs" -gt 0 ] && echo "diff pictures (before | after | changed in red) in $out/diff"
[ "$strict_frames" = 1 ] && stills_differ=$differs
[ "$stills_differ" -eq 0 ] && [ "$missing" -eq 0 ]
