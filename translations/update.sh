#!/usr/bin/env bash
# Brings the catalogues up to date with the source: extracts every TR("…") text of the core into
# ulmet.pot and merges it into each language's .po (new texts come in untranslated, changed ones
# marked fuzzy). Then translate what msgfmt reports as untranslated or fuzzy:
#   bash translations/update.sh && msgfmt --check --statistics -o /dev/null po/en.po
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files 'src/core/*.cpp' 'src/core/*.h' 'src/main.cpp' 'src/FullEntry.cpp' | sort)
xgettext --from-code=UTF-8 --language=C++ --keyword=TR --keyword=TR_NOOP --add-comments=TRANSLATORS: --sort-by-file \
    --package-name=ulmet --msgid-bugs-address=https://github.com/ulmet/ulmet/issues \
    -o translations/ulmet.pot "${sources[@]}"
for po in translations/*.po; do
    msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po" translations/ulmet.pot
done
