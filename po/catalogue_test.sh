#!/bin/sh
# Fails when the template is behind the sources, or when the Chinese
# catalogue is broken or leaves a message of the sources untranslated or fuzzy.
set -eu
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sh "$source_dir/po/update-pot.sh" "$source_dir" "$work/mirel.pot"
if ! diff -u -I '^"POT-Creation-Date:' "$source_dir/po/mirel.pot" "$work/mirel.pot"; then
  echo "po/mirel.pot does not match the sources: run po/update-pot.sh and translate in po/zh_CN.po" >&2
  exit 1
fi

msgfmt --check --output-file=/dev/null "$source_dir/po/zh_CN.po"

msgmerge --quiet --no-fuzzy-matching --output-file="$work/zh_CN.po" \
  "$source_dir/po/zh_CN.po" "$work/mirel.pot"
missing=$(msgattrib --untranslated --no-obsolete "$work/zh_CN.po"; \
          msgattrib --only-fuzzy --no-obsolete "$source_dir/po/zh_CN.po")
if [ -n "$missing" ]; then
  echo "po/zh_CN.po leaves these messages untranslated or fuzzy:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "catalogue complete"
