#!/usr/bin/env bash
# Every text of the core marked for translation has a finished translation in each catalogue:
# the texts are extracted from the sources as they are now (not a kept list), and a text that is
# missing, untranslated or marked fuzzy in a .po fails.   check-translations.sh SOURCE_DIR
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
exit "$status"
