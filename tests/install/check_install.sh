#!/usr/bin/env bash
# The install tree: installs the build into a temporary prefix and checks what a user gets there:
# every file, desktop entries that pass desktop-file-validate, a MIME package that
# update-mime-database compiles, manual pages that man renders without a warning, the bash
# completion of vlmconv, and an installed vlmconv that, moved elsewhere, converts the bundled
# examples from any current folder.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$(cd "$2" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/usr"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
  bin/setting
  bin/vlmconv
  bin/vlmplay
  share/applications/setting.desktop
  share/applications/vlmplay.desktop
  share/bash-completion/completions/vlmconv
  share/doc/vlmplay/changelog.gz
  share/doc/vlmplay/copyright
  share/icons/hicolor/256x256/apps/vlmplay.png
  share/icons/hicolor/48x48/apps/vlmplay.png
  share/man/man1/setting.1.gz
  share/man/man1/vlmconv.1.gz
  share/man/man1/vlmplay.1.gz
  share/metainfo/invalid.example.vlmplay.metainfo.xml
  share/mime/packages/vlmplay.xml
  share/vlmplay/bmp/vlmplay.png
  share/vlmplay/bmp/vlmplay256.png
  share/vlmplay/data/dramname.dat
  share/vlmplay/data/dxmname.dat
  share/vlmplay/data/mldname.dat
  share/vlmplay/help/homepage.url
  share/vlmplay/help/readme.txt
  share/vlmplay/help/readme_en.txt
  share/vlmplay/help/vlmplay.html
  share/vlmplay/help/vlmplay_en.html
)
for file in "${expected[@]}"; do
  [ -s "$prefix/$file" ] || fail "$file is missing or empty"
done
for program in vlmplay setting vlmconv; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
# Nothing else: a file installed by mistake shows here.
extra="$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort |
  comm -23 - <(printf '%s\n' "${expected[@]}" | sort))"
[ -z "$extra" ] || fail "files not expected in the install: $extra"

for entry in "$prefix"/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "desktop-file-validate $(basename "$entry")"
done
grep -q '^Exec=vlmplay %F$' "$prefix/share/applications/vlmplay.desktop" ||
  fail "vlmplay.desktop does not start vlmplay with the files"
grep -q '^MimeType=.*audio/x-vlmplay-mld;' "$prefix/share/applications/vlmplay.desktop" ||
  fail "vlmplay.desktop does not list the i-melody type"

# The package compiles, and the types of the desktop entry are the ones it declares.
if update-mime-database "$prefix/share/mime" >"$work/mime.log" 2>&1; then
  for ext in als dxm mld pmd smd smz mmf mml mid mel sml; do
    grep -q "[*]\.$ext\$" "$prefix/share/mime/globs2" || fail "no MIME type for .$ext"
  done
  declared="$(grep -o 'mime-type type="[^"]*"' "$prefix/share/mime/packages/vlmplay.xml" |
    cut -d'"' -f2 | sort)"
  listed="$(grep '^MimeType=' "$prefix/share/applications/vlmplay.desktop" | cut -d= -f2 |
    tr ';' '\n' | grep '^audio/x-vlmplay-' | sort)"
  [ "$declared" = "$listed" ] || fail "desktop entry and MIME package name different types"
else
  fail "update-mime-database: $(cat "$work/mime.log")"
fi

# man-db's sandbox is not allowed in every container.
export MAN_DISABLE_SECCOMP=1
for page in vlmplay setting vlmconv; do
  if ! MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/$page.1.gz" \
    >"$work/$page.txt" 2>"$work/$page.err"; then
    fail "man -l $page.1: $(cat "$work/$page.err")"
  elif [ -s "$work/$page.err" ]; then
    fail "man -l $page.1 warns: $(cat "$work/$page.err")"
  elif ! grep -q "^NAME" "$work/$page.txt" || ! grep -qi "^ *$page" "$work/$page.txt"; then
    fail "man -l $page.1 renders no page"
  fi
done

# The installed tree is moved: the programs find their files from where they are.
mv "$prefix" "$work/moved"
prefix="$work/moved"

if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_words() {  # the completions of the words given, the last one being completed
    PATH="$prefix/bin:$PATH" bash -c '
      source /usr/share/bash-completion/bash_completion
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _vlmconv vlmconv "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
      printf "%s\n" "${COMPREPLY[@]}"' complete \
      "$prefix/share/bash-completion/completions/vlmconv" "$@"
  }
  complete_words vlmconv con | grep -qx convert || fail "completion: no command convert"
  to="$(complete_words vlmconv convert a.mid --to m)"
  for name in mid mld mld-fm16n mmf40 mmf; do
    grep -qx -- "$name" <<<"$to" || fail "completion of --to: no $name"
  done
  to="$(complete_words vlmconv convert a.mid --to 5)"
  grep -qx 53 <<<"$to" || fail "completion of --to: no 53 in '$to' (formats: $(
    "$prefix/bin/vlmconv" formats 2>&1 | grep -c .) lines, status ${PIPESTATUS[0]})"
  complete_words vlmconv check --j | grep -qx -- --json || fail "completion: no check --json"
  (cd "$source/examples" && complete_words vlmconv info demo.m) | grep -qx demo.mid ||
    fail "completion: no file names"
fi

# The bundled examples convert with the installed converter from any current folder.
mkdir -p "$work/elsewhere"
for example in "$source"/examples/*; do
  name="$(basename "$example")"
  for dir in "$work/elsewhere" /; do
    out="$work/out-$name-$(echo "$dir" | tr / _).mld"
    if ! (cd "$dir" && "$prefix/bin/vlmconv" convert "$example" --to mld -o "$out" \
      >/dev/null 2>"$work/convert.err"); then
      fail "installed vlmconv cannot convert $name from $dir: $(cat "$work/convert.err")"
    elif [ ! -s "$out" ]; then
      fail "installed vlmconv wrote nothing for $name"
    fi
  done
done
(cd "$work/elsewhere" && cp "$source/examples/demo.mid" . &&
  "$prefix/bin/vlmconv" convert demo.mid --to mmf -d out >/dev/null 2>&1 && [ -s out/demo.mmf ]) ||
  fail "installed vlmconv cannot convert a relative path"

if [ "$failures" -ne 0 ]; then
  echo "$failures problems in the install tree" >&2
  exit 1
fi
echo "install tree complete"
