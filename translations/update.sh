#!/usr/bin/env bash
# Brings the catalogues up to date with the source: the core's TR("…") texts (xgettext into
# ulmet.pot, merged into each LANG.po) and the interface's tr()/qsTr() texts (lupdate into each
# ulmet_LANG.ts). New texts come in untranslated; translate them, then check:
#   bash translations/update.sh && bash tests/support/check-translations.sh .
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files 'src/core/*.cpp' 'src/core/*.h' 'src/main.cpp' 'src/FullEntry.cpp' | sort)
xgettext --from-code=UTF-8 --language=C++ --keyword=TR --keyword=TR_NOOP --add-comments=TRANSLATORS: --sort-by-file \
    --package-name=ulmet --msgid-bugs-address=https://github.com/ulmet/ulmet/issues \
    -o translations/ulmet.pot "${sources[@]}"
for po in translations/*.po; do
    msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po" translations/ulmet.pot
done
# The interface (Qt): every tr() and qsTr() of the tray application's C++ and QML.
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
mapfile -t qt_sources < <(git ls-files 'src/app/*.cpp' 'src/app/*.h' 'src/ui/*.cpp' 'src/ui/*.h' 'src/ui/*.qml' | sort)
for ts in translations/ulmet_*.ts; do
    "$lupdate" -silent -locations none -no-obsolete -I src/core -I src/app -I src/ui "${qt_sources[@]}" -ts "$ts"
done
