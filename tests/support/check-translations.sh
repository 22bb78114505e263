#!/usr/bin/env bash
# Every text marked for translation has a finished translation in each catalogue: the texts are
# extracted from the sources as they are now (not a kept list) — the core's by xgettext, the
# interface's by lupdate — and a text that is missing, untranslated, fuzzy or unfinished fails.
#   check-translations.sh SOURCE_DIR
set -euo pipefail
cd "$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mapfile -t sources < <(find src/core src/main.cpp src/FullEntry.cpp -name '*.cpp' -o -name '*.h' | sort)
xgettext --from-code=UTF-8 --language=C++ --keyword=TR --keyword=TR_NOOP -o "$scratch/ulmet.pot" "${sources[@]}"
status=0
for po in translations/*.po; do
    msgfmt --check -o /dev/null "$po" || status=1
    # Untranslated and fuzzy entries count as missing.
    msgcmp "$po" "$scratch/ulmet.pot" || { echo "$po: texts above have no finished translation"; status=1; }
    msgfmt --statistics -o /dev/null "$po"
done
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
mapfile -t qt_sources < <(find src/app src/ui -name '*.cpp' -o -name '*.h' -o -name '*.qml' | sort)
for ts in translations/ulmet_*.ts; do
    cp "$ts" "$scratch/current.ts"
    "$lupdate" -silent -locations none -no-obsolete -I src/core -I src/app -I src/ui "${qt_sources[@]}" \
        -ts "$scratch/current.ts" >/dev/null 2>&1
    if grep -q 'type="unfinished"' "$scratch/current.ts"; then
        echo "$ts: these texts have no finished translation:"
        grep -B2 'type="unfinished"' "$scratch/current.ts" | grep '<source>' | sed 's/^ *//'
        status=1
    fi
    echo "$ts: $(grep -c '<translation>' "$scratch/current.ts") translated messages."
done
# And no Japanese text of the sources escapes the extraction (a literal outside TR() or tr()).
python3 "$(dirname "$0")/check-untranslated.py" . "$scratch/ulmet.pot" "$scratch/current.ts" || status=1
exit "$status"
