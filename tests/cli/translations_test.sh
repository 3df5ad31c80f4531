#!/usr/bin/env bash
# Every message listwise-cli can print has its Russian translation, none fuzzy, each with the
# same printf directives as its English: a message left out would come out English among Russian.
# Usage: translations_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$source_dir/cli" && xgettext --from-code=UTF-8 --language=C++ --keyword=Translated \
  --omit-header -o "$work/messages.pot" *.cpp)
msgcmp "$source_dir/po/ru.po" "$work/messages.pot"
statistics=$(msgfmt --check --statistics -o /dev/null "$source_dir/po/ru.po" 2>&1)
echo "$statistics"
case $statistics in
  *fuzzy* | *untranslated*) echo "FAIL: ru.po is not wholly translated" >&2; exit 1 ;;
esac
