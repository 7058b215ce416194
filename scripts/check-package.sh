#!/usr/bin/env bash
# Checks a release archive of scripts/package.sh with tools of its own (unzip,
# sha256sum):
#
#   scripts/check-package.sh ARCHIVE [BUILD_DIR]     (default: build/win32)
#
# - the listing: exactly the products, the documents in Markdown and HTML, the
#   samples, LICENSE, CHANGELOG.md and SHA256SUMS, in sorted order under one folder
#   varnel-VERSION-win32/;
# - SHA256SUMS lists every other file, and every sum is right (sha256sum -c);
# - the products are those of BUILD_DIR, byte for byte;
# - every link of the HTML pages to a file reaches one in the archive;
# - the archive is reproducible: written again from the same build, it is the same.
#
# Ends with the line "N passed, N failed"; exits 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
archive=$(realpath "${1:?usage: check-package.sh ARCHIVE [BUILD_DIR]}")
build_dir=$(realpath -m "${2:-$root/build/win32}")
"$root/scripts/install-packages.sh" unzip python3-markdown || exit 1

passed=0
failed=0
result() {  # $1: 0 for a pass; $2: what was checked
    if [ "$1" -eq 0 ]; then
        echo "ok      $2"
        passed=$((passed + 1))
    else
        echo "FAILED  $2"
        failed=$((failed + 1))
    fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$archive" .zip)
version=${name#varnel-}
version=${version%-win32}

echo "== $archive"
unzip -Z1 "$archive" >"$work/listing" || { result 1 "unzip can read it"; exit 1; }
unzip -Zl "$archive" | sed 's/^/  /'
{
    printf '%s\n' CHANGELOG.md LICENSE SHA256SUMS Varnel.dll Varnel.fll varnel-host.exe
    for document in declare-interface functions getting-started host-abi varnel-host; do
        printf 'docs/%s.html\ndocs/%s.md\n' "$document" "$document"
    done
    (cd "$root/samples" && ls -1 | sed 's|^|samples/|')
} | LC_ALL=C sort | sed "s|^|$name/|" >"$work/wanted"
diff -u --label wanted --label listing "$work/wanted" "$work/listing"
result $? "the listing: $(wc -l <"$work/listing") files under $name/, sorted"

unzip -q "$archive" -d "$work/out"
top=$work/out/$name
(cd "$top" && sha256sum --quiet -c SHA256SUMS)
result $? "every sum of SHA256SUMS is right"
sed 's/^[0-9a-f]\{64\}  //' "$top/SHA256SUMS" >"$work/summed"
grep -v "^$name/SHA256SUMS$" "$work/listing" | sed "s|^$name/||" | diff -u --label "the other files" --label SHA256SUMS - "$work/summed"
result $? "SHA256SUMS lists every other file"

status=0
for product in Varnel.fll Varnel.dll varnel-host.exe; do
    cmp "$top/$product" "$build_dir/$product" || status=1
done
result $status "the products are those of $build_dir"

status=0
for page in "$top"/docs/*.html; do
    while IFS= read -r link; do
        if [ ! -e "$(dirname "$page")/$link" ]; then
            echo "  $(basename "$page") links to $link, which the archive does not hold"
            status=1
        fi
    done < <(grep -o 'href="[^"#:]*' "$page" | sed 's/^href="//' | sort -u)
done
result $status "every link of the HTML pages reaches a file of the archive"

# The same time as scripts/package.sh takes: SOURCE_DATE_EPOCH, or the last commit's.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
SOURCE_DATE_EPOCH=$epoch /usr/bin/python3 "$root/scripts/release-archive.py" "$version" \
    "$build_dir" "$work/again.zip" >/dev/null
cmp "$archive" "$work/again.zip"
result $? "written again from the same build, the archive is the same"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
