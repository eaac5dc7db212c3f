#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Holds the documents to the tree: the layout table against the tracked
# files, the table of test labels against what CTest reports, the keys and
# menu entries each document gives against the viewer's own, every
# repository path a document names, and every figure name the performance
# document quotes against the lines the bench prints. Each finding names the
# document, the line and what the tree has instead.
# Usage: check_docs.sh CTEST BUILD_DIR
set -euo pipefail
set -f # words from the documents are not file patterns, unless exists() says so
ctest=$1
build=$(realpath "$2")
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
found=0
finding() {
    echo "$1: $2" >&2
    found=1
}
# The words of a list on one line.
inline() { tr '\n' ' ' | sed 's/ $//'; }
# `backticked` words on a line.
# shellcheck disable=SC2016 # the backticks are the markdown's, not the shell's
ticked() { grep -o '`[^`]*`' <<<"$1" | tr -d '`' || true; }
# Whether a path, or a file pattern, names something in the tree.
exists() {
    local f
    set +f
    for f in $1; do
        [ -e "$f" ] && set -f && return 0
    done
    set -f
    return 1
}

# The rows of the table under the first heading that holds the text given,
# as "LINE<tab>first cell<tab>second cell", header and rule left out.
table() {
    awk -v want="$2" -F'|' '/^#/ { if (seen) exit; on = index($0, want) > 0; next }
        on && /^\|/ { if (++seen > 2) printf "%d\t%s\t%s\n", NR, $2, $3; next }
        on && seen { exit }' "$1"
}

# The layout table: every tracked file lies under a path it lists, and every
# path it lists is tracked. A name without a directory is in the one before
# it in its row.
tracked=$(git ls-files)
listed=()
while IFS=$'\t' read -r line cell _; do
    dir=""
    for path in $(ticked "$cell"); do
        if [[ $path == */* ]]; then dir=${path%/*}/; else path=$dir$path; fi
        listed+=("$path")
        if ! grep -q -x -F -e "$path" <<<"$tracked" &&
            ! { [[ $path == */ ]] && awk -v p="$path" 'index($0, p) == 1 { f = 1 } END { exit !f }' \
                <<<"$tracked"; }; then
            finding "docs/hacking.md:$line" "the layout lists $path, which git does not track"
        fi
    done
done < <(table docs/hacking.md '## Layout')
while read -r file; do
    covered=""
    for path in "${listed[@]}"; do
        [[ $file == "$path" || ($path == */ && $file == "$path"*) ]] && covered=yes && break
    done
    [ -n "$covered" ] || finding docs/hacking.md "the layout has no row for the tracked file $file"
done <<<"$tracked"

# The labels: the table's are the ones CTest reports, and the tests it names
# for each are that label's, all of them. CTest is asked through a tree of
# its own, so that the build's logs are left alone.
echo "subdirs(\"$build\")" >"$work/CTestTestfile.cmake"
labels=$("$ctest" --test-dir "$work" --print-labels | sed -n 's/^  //p' | sort)
documented=""
while IFS=$'\t' read -r line cell tests; do
    label=$(ticked "$cell")
    documented+="$label"$'\n'
    names=$("$ctest" --test-dir "$work" -N -L "^$label\$" | sed -n 's/^ *Test *#[0-9]*: //p')
    patterns=""
    for name in $(ticked "$tests"); do
        pattern=$(sed 's/\./\\./g; s/\*/.*/g' <<<"$name")
        patterns+="$pattern"$'\n'
        grep -q -x -e "$pattern" <<<"$names" ||
            finding "docs/testing.md:$line" "no test labelled $label is named $name; they are: $(inline <<<"$names")"
    done
    unnamed=$(grep -v -x -e "${patterns%$'\n'}" <<<"$names" || true)
    [ -z "$unnamed" ] || finding "docs/testing.md:$line" "the $label row leaves out $(inline <<<"$unnamed")"
done < <(table docs/testing.md '## The layers and their labels')
if [ "$labels" != "$(sort <<<"${documented%$'\n'}")" ]; then
    finding docs/testing.md "the label table has $(sort <<<"${documented%$'\n'}" | inline), CTest reports $(inline <<<"$labels")"
fi

# The viewer's keys and menu entries, from its own handlers and menu.
keys=$( {
    sed -n "s/^ *case '\(.\)':.*/\1/p" src/interaction.cpp
    grep -q 'case keyEscape:' src/interaction.cpp && echo Escape
    sed -n 's/^ *case GLUT_KEY_\([A-Z]*\):.*/\1/p' src/interaction.cpp |
        awk '{ print substr($0, 1, 1) tolower(substr($0, 2)) }'
} | sort)
entries=$(sed -n 's/.*glutAddMenuEntry("\([^"]*\)".*/\1/p' src/interaction.cpp)

# Key names as the documents write them, one per line.
key_names() {
    sed 's/\\f[BIR]//g; s/\\-/-/g; s/`//g; s/arrow keys/Up Down Left Right/; s/\bplus\b/+/; s/\bminus\b/-/' |
        tr ',/' '  ' | sed 's/ or / /g' | tr -s ' ' '\n' | sed '/^$/d' | sort
}
# Compares what a document lists with the viewer's own; "some" allows a
# document that names only some of them.
compare() {
    local where=$1 what=$2 want=$3 have=$4 some=${5:-}
    if [ -n "$some" ]; then
        have=$(comm -23 <(sort -u <<<"$have") <(sort -u <<<"$want"))
        [ -z "$have" ] || finding "$where" "names $what the viewer does not have: $(inline <<<"$have")"
    elif [ "$have" != "$want" ]; then
        finding "$where" "lists the $what $(inline <<<"$have"); the viewer's are $(inline <<<"$want")"
    fi
}
at() { echo "$1:$(grep -n -m 1 -e "$2" "$1" | cut -d: -f1)"; }
# README.md: the two tables under "Keys and menu".
compare "$(at README.md '^| Key ')" keys "$keys" "$(table README.md '## Keys and menu' | cut -f2 | key_names)"
compare "$(at README.md '^| Entry ')" "menu entries" "$entries" "$(awk -F'|' '/^\| Entry/ { on = 1; next }
    on && /^\|/ { if ($2 !~ /---/) { gsub(/ /, "", $2); print $2 }; next } on { exit }' README.md)"
# The man page: the tags of its KEYS and MENU sections.
man_tags() {
    awk -v want="$1" '/^\.SH/ { on = $2 == want; next } on && prev == ".TP" { sub(/^\.B /, ""); print }
        { prev = $0 }' data/quendal.1
}
compare "$(at data/quendal.1 '^\.SH KEYS')" keys "$keys" "$(man_tags KEYS | key_names)"
compare "$(at data/quendal.1 '^\.SH MENU')" "menu entries" "$entries" "$(man_tags MENU)"
# The Windows README: the first column of its Keys and Menu lists.
windows_list() {
    awk -v want="$1" '/^[A-Z]/ { on = index($0, want) == 1; next }
        on && /^    [^ ]/ { sub(/^    /, ""); sub(/   .*/, ""); print }' data/README-windows.txt
}
compare "$(at data/README-windows.txt '^Keys')" keys "$keys" "$(windows_list Keys | key_names)"
compare "$(at data/README-windows.txt '^Menu')" "menu entries" "$entries" "$(windows_list Menu)"
# The summaries name some of the keys, as words or in quotes.
for doc in data/invalid.quendal.quendal.metainfo.xml debian/control; do
    compare "$doc" keys "$keys" "$(grep -o -E '"[^"]"|the [a-z] key|arrow keys|\bplus\b|\bminus\b|Escape' "$doc" |
        tr -d '"' | sed 's/the \(.\) key/\1/' | key_names)" some
done

# Every repository path that the front page and the documents name, in
# backticks or as a link, exists: a link from where the document is, a
# backticked word when it starts with one of the tree's top-level names.
tops=$(cut -d/ -f1 <<<"$tracked" | sort -u)
set +f
documents=(README.md docs/*.md)
bench_sources=(tests/bench/*.cpp scripts/bench)
set -f
for doc in "${documents[@]}"; do
    while IFS=: read -r line text; do
        for word in $(ticked "$text"); do
            grep -q -x -F -e "${word%%/*}" <<<"$tops" || continue
            exists "$word" || finding "$doc:$line" "names $word, which is not in the tree"
        done
        while read -r link; do
            [[ -z $link || $link == *://* ]] && continue
            exists "$(dirname "$doc")/$link" ||
                finding "$doc:$line" "links to $link, which is not in the tree"
        done < <(grep -o '](\([^)#]*\))' <<<"$text" | sed 's/^](//; s/)$//' || true)
    done < <(grep -n -e '`' -e '](' "$doc")
done

# Every name performance.md quotes is a line scripts/bench prints: a name its
# sources print, a number standing for each placeholder (%d, N, D), or the
# end of one (_frame_ratio).
printed=$(grep -h -o -E '("|\\n)[a-z][A-Za-z0-9_]*(%[a-z]+[A-Za-z0-9_]*)*( |")' "${bench_sources[@]}" |
    sed 's/^"//; s/^\\n//; s/[ "]$//; s/%[a-z]*/#/g' | sort -u)
while IFS=: read -r line text; do
    for name in $(ticked "$text" | grep -E '^_?[a-z0-9][A-Za-z0-9]*(_([a-z0-9][A-Za-z0-9]*|[A-Z]))+$' || true); do
        pattern=$(sed -E 's/_([A-Z]|[0-9]+)(_|$)/_#\2/g' <<<"$name")
        [[ $pattern != _* ]] || pattern="[A-Za-z0-9_#]*$pattern"
        grep -q -x -e "$pattern" <<<"$printed" ||
            finding "docs/performance.md:$line" "scripts/bench prints no line $name; it prints $(inline <<<"$printed")"
    done
done < <(grep -n '`' docs/performance.md)

exit "$found"
