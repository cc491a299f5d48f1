#!/bin/bash
# Packs what a tree installs as one folder (the Windows tree's zip, the
# static Linux tree's tarball) so that the same build gives the same bytes
# whoever packs it, wherever: entries in name order, owned by 0:0, every
# time the source date (the tree's, or SOURCE_DATE_EPOCH), modes as
# installed, no extra attributes. A zip's times are local and start in
# 1980: it is packed in UTC, and an older date is taken as 1980.
# Usage: folder-archive.sh BUILD_TREE OUTPUT (NAME.zip or NAME.tar.gz:
# the archive holds the one folder NAME)
set -euo pipefail
build=$1 output=$2
case $output in
    *.zip) name=$(basename "$output" .zip) ;;
    *.tar.gz) name=$(basename "$output" .tar.gz) ;;
    *) echo "folder-archive.sh: $output is neither .zip nor .tar.gz" >&2; exit 2 ;;
esac
export LC_ALL=C
umask 022
date=${SOURCE_DATE_EPOCH:-$(cat "$build/source-date-epoch")}
if [ -z "$date" ]; then
    echo "folder-archive.sh: no source date (no git checkout, no SOURCE_DATE_EPOCH): dated now" >&2
    date=$(date +%s)
fi

stage=$build/folder-archive
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/$name" >/dev/null
mkdir -p "$(dirname "$output")"
output=$(realpath "$(dirname "$output")")/$(basename "$output")
rm -f "$output"
if [[ $output == *.zip ]]; then
    [ "$date" -ge 315532800 ] || date=315532800
    find "$stage/$name" -exec touch -h -d "@$date" {} +
    (cd "$stage" && find "$name" -type f | sort | TZ=UTC zip -X -D -9 -q "$output" -@)
else
    tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
        --mtime="@$date" --mode=u+rwX,go+rX,go-w -cf - "$name" | gzip -9n >"$output"
fi
rm -rf "$stage"
