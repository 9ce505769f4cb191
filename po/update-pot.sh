#!/bin/sh
# Writes the message template of the sources under SOURCE_DIR/src to OUT
# (default SOURCE_DIR/po/mirel.pot). Without line numbers and sorted, so the
# template changes only when a message does.
set -eu
source_dir=${1:-$(dirname "$0")/..}
out=${2:-$source_dir/po/mirel.pot}
cd "$source_dir"
find src -name '*.cpp' -o -name '*.h' | LC_ALL=C sort |
  xgettext --files-from=- --output=- --language=C++ --from-code=UTF-8 \
    --keyword=Tr --keyword=TrN:1,2 --no-location --sort-output \
    --package-name=mirel --msgid-bugs-address=nobody@mirel.invalid \
    --add-comments=TRANSLATORS: >"$out.tmp"
# xgettext leaves the charset to be filled in; the sources are UTF-8.
sed 's/charset=CHARSET/charset=UTF-8/' "$out.tmp" >"$out"
rm -f "$out.tmp"
