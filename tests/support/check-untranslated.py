#!/usr/bin/env python3
"""Every Japanese text in the sources goes through translation: each string literal with Japanese
in it (comments aside) must be part of a text the catalogues' extraction found (the gettext
template and the Qt catalogue, made by check-translations.sh), or be one of the few kept as they
are in every language, listed here with the reason.
    check-untranslated.py SOURCE_DIR POT TS"""
import re
import sys
from pathlib import Path

KEPT = {
    "言語 / Language": "the language setting's name, readable whatever language is in use",
    "日本語": "a language's own name",
    "refreshToken がありません": "the body of a refusal made up before sending, never shown",
}
JAPANESE = re.compile(r"[\u3040-\u30ff\u4e00-\u9fff\uff01-\uff5e]")
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def extracted(pot, ts):
    texts = []
    for block in Path(pot).read_text(encoding="utf-8").split("\n\n"):
        m = re.search(r'^msgid ((?:".*"\n?)+)', block, re.M)
        if m:
            texts.append("".join(re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(1))))
    for m in re.finditer(r"<source>(.*?)</source>", Path(ts).read_text(encoding="utf-8"), re.S):
        texts.append(m.group(1).replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
                     .replace("&apos;", "'").replace("&amp;", "&"))
    return "\n".join(texts)


def main():
    root, pot, ts = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
    known = extracted(pot, ts)
    missing = []
    for path in sorted(list((root / "src").rglob("*.cpp")) + list((root / "src").rglob("*.h")) +
                       list((root / "src").rglob("*.qml"))):
        for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
            code = line.split("//")[0] if not line.lstrip().startswith("//") else ""
            for literal in LITERAL.findall(code):
                if JAPANESE.search(literal) and literal not in KEPT and literal not in known:
                    missing.append(f"{path.relative_to(root)}:{number}: \"{literal}\"")
    for m in missing:
        print(m)
    if missing:
        print(f"{len(missing)} Japanese texts are not marked for translation")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
