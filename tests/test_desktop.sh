#!/usr/bin/env bash
# Checks the files that make veRirove a desktop program with the desktop's own tools, as a file
# manager, a software centre, man and bash use them.
#
#   test_desktop.sh CHECK
#
# CHECK is entry, metainfo, mime, man, completion or install. The files and tools come from the
# environment CTest sets (see data/CMakeLists.txt). A tool that is missing is a failure:
# scripts/setup installs every one.
set -uo pipefail

check=${1:?usage: test_desktop.sh entry|metainfo|mime|man|completion|install}
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/test_desktop.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup installs it)"; exit 1; }
  done
}

# The value of KEY in the desktop entry's main group.
entry_value() {
  sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$1"'=//p}' "$ZR_DESKTOP_ENTRY"
}

check_entry() {
  need desktop-file-validate
  local output
  if ! output=$(desktop-file-validate "$ZR_DESKTOP_ENTRY" 2>&1) || [[ -n $output ]]; then
    fail "desktop-file-validate: $output"
  fi
  # What a file manager reads: key, the value it must have.
  local cases=(
    "Type|Application"
    "Exec|veRirove %f"
    "TryExec|veRirove"
    "Icon|$ZR_APP_ID"
    "Categories|AudioVideo;Video;Player;"
    # Only the film type: the player never takes over types other programs own.
    "MimeType|$ZR_FILM_TYPE;"
  )
  local row key want got
  for row in "${cases[@]}"; do
    key=${row%%|*} want=${row#*|}
    got=$(entry_value "$key")
    [[ $got == "$want" ]] || fail "$key is \"$got\", not \"$want\""
  done
  for key in 'Name' 'Name\[ru\]' 'Comment' 'Comment\[ru\]' 'GenericName\[ru\]'; do
    [[ -n $(entry_value "$key") ]] || fail "the entry has no $key"
  done
  [[ $(entry_value 'Comment\[ru\]') == *[а-я]* ]] || fail "the Russian comment is not in Russian"
  [[ $(basename "$ZR_DESKTOP_ENTRY") == "$ZR_APP_ID.desktop" ]] || fail "the entry is not named $ZR_APP_ID.desktop"
}

check_metainfo() {
  need appstreamcli
  local output
  output=$(appstreamcli validate --no-net "$ZR_METAINFO" 2>&1) || fail "appstreamcli validate: $output"
  # What a software centre shows and matches the program by.
  local cases=(
    "<id>$ZR_APP_ID</id>"
    "<launchable type=\"desktop-id\">$ZR_APP_ID.desktop</launchable>"
    "<binary>veRirove</binary>"
    "<binary>zrfilm</binary>"
    "<mediatype>$ZR_FILM_TYPE</mediatype>"
    "<release version=\"$ZR_VERSION\""
    "<content_rating type=\"oars-1.1\""
    '<name xml:lang="ru">'
    '<summary xml:lang="ru">'
    '<p xml:lang="ru">'
  )
  local want
  for want in "${cases[@]}"; do
    grep -qF "$want" "$ZR_METAINFO" || fail "the metainfo lacks $want"
  done
}

# The film type as the desktop finds it: the definition loaded into a private XDG_DATA_HOME,
# asked through xdg-mime. Without a desktop environment xdg-mime asks file(1), which knows
# nothing of shared-mime-info; as under GNOME it asks gio, which reads the MIME database.
check_mime() {
  need update-mime-database xdg-mime gio gcab
  local data=$work/data
  mkdir -p "$data/mime/packages" "$work/files"
  cp "$ZR_MIME_XML" "$data/mime/packages/"
  XDG_DATA_HOME=$data update-mime-database "$data/mime" || { fail "update-mime-database failed"; return; }

  local files=$work/files
  cp "$ZR_DEMO_FILM" "$files/film.zrcab"
  cp "$ZR_DEMO_FILM" "$files/FILM.ZRCAB"
  cp "$ZR_DEMO_FILM" "$files/Film.ZrCab"
  cp "$ZR_DEMO_FILM" "$files/film-without-extension"
  # A cabinet whose film file is named in another letter case, as the player accepts it.
  echo "not a film, only its name" >"$work/myfilm.~ZRFLM"
  (cd "$work" && gcab -c "$files/other-case-film" "myfilm.~ZRFLM") || fail "gcab failed"
  # Foreign cabinets stay cabinets, with or without their extension.
  echo "a foreign cabinet" >"$work/readme.txt"
  (cd "$work" && gcab -c "$files/foreign.cab" readme.txt) || fail "gcab failed"
  cp "$files/foreign.cab" "$files/foreign-without-extension"
  # An executable film is a program to the system.
  { printf 'MZ'; head -c 62 /dev/zero; cat "$ZR_DEMO_FILM"; } >"$files/film.exe"

  local cases=(
    "film.zrcab|$ZR_FILM_TYPE"
    "FILM.ZRCAB|$ZR_FILM_TYPE"
    "Film.ZrCab|$ZR_FILM_TYPE"
    "film-without-extension|$ZR_FILM_TYPE"
    "other-case-film|$ZR_FILM_TYPE"
    "foreign.cab|application/vnd.ms-cab-compressed"
    "foreign-without-extension|application/vnd.ms-cab-compressed"
    "film.exe|!$ZR_FILM_TYPE"
  )
  local row name want got
  for row in "${cases[@]}"; do
    name=${row%%|*} want=${row#*|}
    got=$(cd "$files" && XDG_DATA_HOME=$data XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=GNOME \
      GIO_USE_VFS=local xdg-mime query filetype "$name" 2>&1)
    if [[ $want == !* ]]; then
      [[ -n $got && $got != "${want#!}" ]] || fail "$name is \"$got\""
    else
      [[ $got == "$want" ]] || fail "$name is \"$got\", not $want"
    fi
  done
  grep -q '<comment xml:lang="ru">' "$ZR_MIME_XML" || fail "the type has no Russian comment"
}

check_man() {
  need man
  local page locale errors text
  for page in $ZR_MAN_PAGES; do
    # Plain ASCII terminals as well as UTF-8 ones.
    for locale in C C.UTF-8; do
      errors=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
      [[ -z $errors ]] || fail "$(basename "$page") in $locale: $errors"
    done
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION 'EXIT STATUS'; do
      grep -q "^$section" <<<"$text" || fail "$(basename "$page") has no $section"
    done
    # No line runs past the terminal.
    local longest
    longest=$(awk '{ if (length > n) n = length } END { print n + 0 }' <<<"$text")
    ((longest <= 80)) || fail "$(basename "$page") has a line of $longest columns"
  done
}

# What bash offers on Tab: the words typed, then the offers expected (sorted).
check_completion() {
  need bash
  local bashcomp=/usr/share/bash-completion/bash_completion
  [[ -r $bashcomp ]] || { fail "bash-completion is not installed"; return; }
  local files=$work/files
  mkdir -p "$files/folder"
  touch "$files"/{film.zrcab,FILM.ZRCAB,Film.ZrCab,film.exe,notes.txt,picture.png,PICTURE.PNG,talk.mp4,talk.WebM,talk.mkv,talk.gif,talk.avi}
  local cases=(
    "zrfilm |export extract frame frames index info thumbnail"
    "zrfilm f|frame frames"
    "zrfilm i|index info"
    "zrfilm index -|--frames --idle --json --no-cache"
    "zrfilm index --idle |"
    "zrfilm index --json |FILM.ZRCAB Film.ZrCab film.exe film.zrcab folder"
    "zrfilm -|--help --version"
    "zrfilm frames -|--force --from --segment --to"
    "zrfilm frame --|--at --force --frame --segment"
    "zrfilm thumbnail -|-s"
    "zrfilm info -|"
    "zrfilm info |FILM.ZRCAB Film.ZrCab film.exe film.zrcab folder"
    "zrfilm extract film.zrcab |folder"
    "zrfilm frames --segment 2 film.zrcab |folder"
    "zrfilm frame film.zrcab |PICTURE.PNG folder picture.png"
    "zrfilm thumbnail -s 128 film.zrcab |PICTURE.PNG folder picture.png"
    "zrfilm frame film.zrcab --at |"
    "zrfilm frame --at 5 film.zrcab out.png |"
    "zrfilm info -- -|"
    "zrfilm export -|--chapters --chroma --codec --force --format --gif-palette --keyint --lossless --max-idle --max-width --no-cursor --quality --segment --split"
    "zrfilm export film.zrcab |folder talk.WebM talk.gif talk.mkv talk.mp4"
    "zrfilm export --format |gif mkv mp4 webm"
    "zrfilm export --codec |av1 ffv1 h264 h264rgb vp9"
    "zrfilm export --chapters |all segments"
    "zrfilm export --max-idle |"
    "zrfilm export --chroma 4|420 444"
    "zrfilm export talk.gif --gif-palette |film picture"
    "zrfilm export --quality |"
    "zrfilm export --keyint |"
  )
  local row line want got
  for row in "${cases[@]}"; do
    line=${row%%|*} want=${row#*|}
    got=$(cd "$files" && bash -c '
      source "$1"; source "$2"
      COMP_LINE=$3; COMP_POINT=${#COMP_LINE}
      read -ra COMP_WORDS <<<"$COMP_LINE"
      [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _zrfilm
      printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd " "' _ "$bashcomp" "$ZR_COMPLETION" "$line" 2>&1)
    [[ $got == "$want" ]] || fail "\"$line\" offers \"$got\", not \"$want\""
  done
}

# What `cmake --install` puts where, and the installed tree as a software centre reads it: the
# metainfo with the desktop entry and the icons it names.
check_install() {
  need cmake appstreamcli
  local prefix=$work/prefix output
  output=$(cmake --install "$ZR_BUILD_DIR" --prefix "$prefix" 2>&1) || { fail "cmake --install: $output"; return; }
  local wanted=(
    bin/veRirove bin/zrfilm bin/veRirove-thumbnailer
    "share/applications/$ZR_APP_ID.desktop"
    "share/mime/packages/$ZR_APP_ID.xml"
    "share/metainfo/$ZR_APP_ID.metainfo.xml"
    share/man/man1/veRirove.1.gz share/man/man1/zrfilm.1.gz share/man/man1/veRirove-thumbnailer.1.gz
    share/bash-completion/completions/zrfilm
    share/thumbnailers/veRirove.thumbnailer
    share/veRirove/veRirove.chm share/veRirove/veRirove_about.jpg
    share/doc/verirove/copyright share/doc/verirove/changelog.gz
    "share/icons/hicolor/scalable/apps/$ZR_APP_ID.svg"
  )
  local size path
  for size in $ZR_ICON_SIZES; do
    wanted+=("share/icons/hicolor/${size}x$size/apps/$ZR_APP_ID.png")
  done
  for path in "${wanted[@]}"; do
    [[ -s $prefix/$path ]] || fail "the install has no $path"
  done
  # Only programs in bin/.
  for path in "$prefix"/bin/*; do
    [[ -f $path && -x $path ]] || fail "bin/ holds ${path##*/}, which is not a program"
  done
  output=$(appstreamcli validate-tree --no-net "$prefix" 2>&1) || fail "appstreamcli validate-tree: $output"
}

case $check in
  entry) check_entry ;;
  metainfo) check_metainfo ;;
  mime) check_mime ;;
  man) check_man ;;
  completion) check_completion ;;
  install) check_install ;;
  *) echo "unknown check $check"; exit 2 ;;
esac

if ((failures > 0)); then
  echo "$check: $failures failed"
  exit 1
fi
echo "$check: all passed"
